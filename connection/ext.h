// The connection record RVExt and the received message RVMsg: building,
// fragmenting and sending messages, reading and joining them, attributes.
// The reliability layer (acknowledgements, resend queue, resynchronisation,
// option negotiation) and the channel layer (encryption, scrambling, rekey)
// are reached from here; see ext_reliable.h and ext_channel.h.
//
// Both ends of the protocol use this record: a connection made from a
// connected socket (client or server), or from an in-memory transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "connection/wire_frame.h"
#include "connection/wire_transport.h"
#include "crypto/crypto_lib.h"

struct RVMutex;

// Flag bits of RVExt::flags.
enum : uint32_t {
  RVEXT_OPEN = 0x1,
  RVEXT_OWNS_SOCKET = 0x2,
  RVEXT_SEND_CLOSE = 0x4,
  RVEXT_DATA_READY = 0x8,
  RVEXT_SAME_MACHINE = 0x10,
  RVEXT_CLINFO_PENDING = 0x20,
  RVEXT_BROKEN = 0x40,
  RVEXT_SEND_CHECKED = 0x100,
  RVEXT_RECV_CHECKED = 0x200,
  RVEXT_SEND_ACKS = 0x400,
  RVEXT_RESEND_QUEUE = 0x800,
  RVEXT_RESYNC = 0x1000,
  RVEXT_PEER_CLOSED = 0x4000,
  RVEXT_EXTENDED = 0x8000,       // extended checksums on received headers
  RVEXT_SCRAMBLE_OUT = 0x10000,
  RVEXT_SCRAMBLE_IN = 0x20000,
  RVEXT_READING = 0x400000,
  RVEXT_SEND_VECTORS = 0x800000,
  RVEXT_RECV_VECTORS = 0x1000000,
  RVEXT_ADDRS_KNOWN = 0x2000000,
  RVEXT_SEND_EXTENDED = 0x4000000, // extended checksums on sent headers
  RVEXT_SERVER = 0x8000000,        // the server end of a connection
};

// Message types of the layer itself.
enum : int {
  RVMSG_INFO_TEXT = 1021,
  RVMSG_REKEY = 1048,
  RVMSG_OPTIONS = 2027,
  RVMSG_GET_SETTING = 5001,
  RVMSG_SETTING = 5002,
  RVMSG_ERROR = 7000,
  RVMSG_INFO = 7001,
  RVMSG_ERROR_ACK = 7005,
  RVMSG_ERROR_FLAGS = 7008,
  RVMSG_STATUS = 8000,
  RVMSG_ACK = 9700,
  RVMSG_RESYNC_REQ = 9701,
  RVMSG_RESYNC_MARK = 9702,
  RVMSG_PING = 9991,
  RVMSG_NOOP = 9997,
  RVMSG_FRAGMENT = 9998,
  RVMSG_CLOSE = 9999,
};

// Limits of the reader and of sending.
enum : int {
  RVEXT_MAX_MESSAGE = 1 << 20,    // bytes of one joined message
  RVEXT_MAX_OPEN_FRAGMENTS = 8,   // fragmented messages open at once
  RVEXT_MAX_UNREAD = 4096,        // received messages not yet taken
  RVEXT_MAX_STRING = 65534,       // bytes of one string field
  RVEXT_WAIT_SECONDS = 30,        // wait for data or for room to send
  RVEXT_CIPHER_ROOM = 16,         // output bytes kept free for a cipher block
};

// One received message. Taken messages belong to the caller (RVMsgFree).
struct RVMsg {
  int type;                       // 15 bits, the continuation bit removed
  int32_t id;                     // message id
  std::vector<unsigned char> body;
  size_t pos;                     // read cursor
};

// One entry of the resend queue: a sent message as transmitted.
struct RVResendEntry {
  uint16_t type;                  // with bit 15 as sent
  int32_t id;
  int32_t tag;                    // our last sent id before it; 0 for a 9998
  std::vector<unsigned char> body;
};

// A message whose building a nested message interrupted.
struct RVPendingMsg {
  std::vector<unsigned char> bytes; // header and body so far
  int type;
  int32_t id;
  int header;                       // header size it was begun with
};

// A fragmented message being joined.
struct RVJoining {
  int type;
  int32_t id;
  std::vector<unsigned char> body;
};

// One connection.
struct RVExt {
  // identity
  char machine[128];
  char application[32];
  int transport_kind;     // 1 = TCP socket
  int port;
  std::string path;
  char local_addr[65];
  char peer_addr[65];
  std::string client_info;
  std::string text_attr[9]; // 401-409
  // transport
  RVTransportEnd io;
  uint32_t flags;
  RVMutex* send_mutex;
  RVMutex* get_mutex;
  RVMutex* attr_mutex;
  // input
  unsigned char in[RV_WIRE_BUF];
  int in_pos, in_end;
  // output
  unsigned char out[static_cast<int>(RV_WIRE_BUF) + static_cast<int>(RVEXT_CIPHER_ROOM)];
  int out_pos;            // write cursor
  int msg_start;          // start of the message being built, -1 none
  int msg_header;         // header size of the message being built
  int msg_type;           // type being built, 0 none
  int32_t msg_id;         // id being built
  int msg_body_bytes;     // body bytes of the message over all fragments so far
  std::vector<RVPendingMsg> pending;
  // ids
  int16_t next_id;        // last automatic id given
  int32_t last_received;  // sync id
  int32_t peer_acked;     // id last acknowledged by the peer; 0 none
  int32_t last_sent;      // our last counted message
  // received
  std::deque<RVMsg*> received;
  std::vector<RVJoining> joining;
  // resend
  std::deque<RVResendEntry> queue;
  // cipher
  RVCryptoCipher* send_cipher;
  RVCryptoCipher* recv_cipher;
  std::vector<unsigned char> server_key;
  std::vector<unsigned char> saved_key;
  int cipher_algorithm;
  int cipher_mode;
  int since_rekey;
  int encrypted_out, encrypted_in; // bodies encrypted/decrypted, for entropy
  // peer
  int peer_version[4];
  // reliability state
  int since_ack;          // messages received since the last acknowledgement
  int resync_in_row;      // self-started resynchronisations since a sound message
  int resync_requests;    // 9701 received with no ordinary message between
  int in_flush;           // inside the flush's after-send steps
  int resending;          // sending what a resynchronisation sends
  // counters (attributes 209-323)
  int64_t resync_attempts, resync_success, resync_replies;
  int64_t recv_min, recv_max, send_min, send_max;
  int64_t bytes_in, recv_calls, bytes_out, send_calls;
  int64_t msgs_in, msgs_out, acks_in, acks_out;
  int error_code;
  int64_t last_ping_in, last_ping_out, pings_out, pings_in;
  int64_t last_send_time;
  int read_ahead;
  uint32_t option_words[2];
};

// --- lifecycle ---

// A new open connection over `io`, linked into the runtime's list. `server`
// marks the server end. The record owns the transport end.
RVExt* RVExtFromTransport(RVTransportEnd io, int server);

// A new open connection owning the connected socket `s` (what the client's
// open calls after its connect, and what the server's accept gives).
RVExt* RVExtFromSocket(PlatSocket s, int server);

// Server end: a socket listening on `port` (0: any free port; the one bound
// goes to *bound_port) of the loopback address or every address. The
// invalid socket after reporting.
PlatSocket RVExtListen(int port, int loopback, int* bound_port);

// Server end: waits up to `timeout_ms` (negative: no limit) for a client on
// `listener` and returns its open connection, or null (reported unless the
// time passed).
RVExt* RVExtAccept(PlatSocket listener, int timeout_ms);

// Sends the close message 9999 when the connection is open, flushes, clears
// open and closes the transport.
void RVExtSendClose(RVExt* ext);

// Frees a connection: the close message when flag 0x4 is set, the transport,
// received and queued messages, cipher states; unlinks the record.
void RVExtFree(RVExt* ext);

// Frees every connection of the runtime (the runtime's shutdown).
void RVExtFreeAll();

// The number of connections linked in the runtime.
int RVExtCount();

// --- building and sending (the send mutex is held from begin to restore) ---

// Starts a message: id 0 takes the next automatic id (1 ... 32,767, then 1
// again); any other id is sent as -|id|. Returns 0 with the send mutex held
// (RVExtRestoreContext releases it), or -1 on a broken connection, holding nothing.
int RVExtMsgBegin(RVExt* ext, int type, int id);

// Put operations: the bytes encoded, 0 on a broken connection.
int RVExtPutByte(RVExt* ext, int v);
int RVExtPutShort(RVExt* ext, int v);
int RVExtPutLong(RVExt* ext, int32_t v);
// Eight bytes when the peer version is 642 or higher, else the low 32 bits.
int RVExtPutInt64(RVExt* ext, int64_t v);
// Raw bytes, fragmenting as needed.
int RVExtPutBytes(RVExt* ext, const void* data, size_t len);
// A short length and the bytes: returns the length + 1, 0 for an absent
// string; a string over 65,534 bytes is refused (reported, 0).
int RVExtPutStr(RVExt* ext, const char* s);
// The same for a byte string of `len` bytes.
int RVExtPutStrN(RVExt* ext, const char* s, size_t len);

// Finishes the message being built and resumes an interrupted one; returns
// the finished message's id (0 when none was built).
int RVExtRestoreContext(RVExt* ext);

// Sends whatever is buffered. 0, or -1 when the connection is broken.
int RVExtFlush(RVExt* ext);

// --- receiving ---

// The next received message, reading as needed; null when the connection
// broke or closed. Internal messages come as type 9997.
RVMsg* RVExtGetMsg(RVExt* ext);

// The message whose id is -|id| (a reply): from the received list or by
// reading on while data arrives within `poll_ms`. Null when none came.
RVMsg* RVExtGetMsgById(RVExt* ext, int id, int poll_ms);

// The first message whose type is in `types` (count of them), reading on
// while data arrives within `timeout_ms`; null when none came.
RVMsg* RVExtGetMsgOfType(RVExt* ext, const int* types, int count, int timeout_ms);

// Waits until one of `count` connections has data (buffered or on its
// transport), for at most the given time; sets 0x8 on each ready one and
// returns their number.
int RVExtSelect(RVExt** exts, int count, int seconds, int microseconds);

// Get operations; reading beyond the end yields 0xFF bytes.
int RVMsgGetByte(RVMsg* msg);
int RVMsgGetShort(RVMsg* msg);
int32_t RVMsgGetLong(RVMsg* msg);
// Eight bytes when `wide` (peer version 642 or higher), else four.
int64_t RVMsgGetInt64(RVMsg* msg, int wide);
// Copies a string field into `buf` (size bytes, terminated); returns the
// characters stored + 1. A longer string keeps size - 1 characters and is
// reported.
int RVMsgGetStr(RVMsg* msg, char* buf, int size);
// Frees a taken message (null allowed).
void RVMsgFree(RVMsg* msg);

// --- attributes ---

int64_t RVExtAttrGet(RVExt* ext, int id);
// A newly allocated copy (RVFree) of a text or byte string; *len gets its
// length when given. Null when unset or unknown.
void* RVExtAttrGetP(RVExt* ext, int id, int* len = nullptr);
// Sets a text (len < 0: up to the terminator) or byte string or cipher state.
void RVExtAttrSetP(RVExt* ext, int id, const void* value, int len = -1);

// --- internal, shared between the wire files ---

// The clock of every wait of the connection runtime: milliseconds per
// second (1000, or the test clock of RVSecondMs).
int RVExtSecondMs();

// Marks the connection broken after shutting the transport down; keeps
// `code` unless an earlier code is kept.
void RVExtBreak(RVExt* ext, int code);

// Reports `text` as an error and breaks the connection (code 0).
void RVExtFail(RVExt* ext, const char* text);

// Sends a complete message with the given body in one go (no message may be
// open); its id as RVExtMsgBegin takes it. Returns the id or -1.
int RVExtSendSimple(RVExt* ext, int type, int id, const void* body, size_t len);

// Sends the output buffer's bytes through the transport (no after-send
// steps). 0 or -1 (broken).
int RVExtSendRaw(RVExt* ext, const unsigned char* data, int len);

// Reads exactly `len` bytes into `dst`; on failure the rest reads as 0xFF
// and -1 is returned.
int RVExtReadBytes(RVExt* ext, unsigned char* dst, int len, int timeout_ms);
