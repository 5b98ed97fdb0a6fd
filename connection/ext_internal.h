// Hooks between the wire files: the reliability and channel steps that the
// framing calls while it builds, sends and reads messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RVExt;
struct RVMsg;

// --- framing (ext_send.cpp, ext_recv.cpp) ---

// Appends a complete frame at the write cursor (room must be there): the
// body is transformed by the channel when `transform`, then framed with the
// sending header form. Counted and queued as a sent message unless the
// connection is resending. Returns the frame's id.
int RVExtAppendFrame(RVExt* ext, int wire_type, int32_t id, const unsigned char* body, int len, int transform);

// Sends the output buffer when no message is open: the acknowledgement step
// before, the after-send steps after. 0 or -1.
int RVExtSendBuffer(RVExt* ext);

// The next automatic message id.
int32_t RVExtNextId(RVExt* ext);

// Reads and discards what is buffered and what the transport has ready now.
void RVExtDrain(RVExt* ext);

// Reads one byte; -1 when the connection broke or the wait ended.
int RVExtReadByte(RVExt* ext, int timeout_ms);

// Reads one frame in the receiving header form, checked and decoded; used
// by the resynchronisation for the status that follows the marker. 0 with
// the frame, 1 on a check failure, -1 when the connection broke.
int RVExtReadFrame(RVExt* ext, int* wire_type, int32_t* id, std::vector<unsigned char>* body, const char** fault);

// --- reliability (ext_reliable.cpp) ---

// A sent frame: trims and extends the resend queue, records the last sent id.
void RVReliableSent(RVExt* ext, int wire_type, int32_t id, const unsigned char* body, int len);

// The acknowledgement appended in front of a flush (conditions inside).
void RVReliableAckBefore(RVExt* ext);

// The acknowledgement sent after a flush when 100 or more are counted.
void RVReliableAckAfter(RVExt* ext);

// Handles a received internal message; 1 when it was one (now type 9997).
int RVReliableHandle(RVExt* ext, RVMsg* msg);

// Resynchronises after a check failure with the fault's text. 0 when the
// damaged message can be dropped and reading goes on; -1 after reporting
// the text and breaking the connection.
int RVReliableRecover(RVExt* ext, const char* fault);

// --- channel (ext_channel.cpp) ---

// Transforms a body in place for sending (room for one more cipher block);
// returns the new length. A cipher fault of the own side ends the process.
int RVChannelEncode(RVExt* ext, int type, int32_t id, unsigned char* body, int len);

// Transforms a received body in place; -1 when it cannot be decrypted.
int RVChannelDecode(RVExt* ext, int type, int32_t id, std::vector<unsigned char>* body);

// The rekey step at the end of a flush.
void RVChannelRekeyStep(RVExt* ext);

// Installs the key a received 1048 carries; -1 after breaking the connection.
int RVChannelOnRekey(RVExt* ext, RVMsg* msg);

// Frees both cipher states.
void RVChannelFree(RVExt* ext);
