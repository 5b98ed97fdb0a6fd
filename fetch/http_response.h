// The response side shared by the HTTP and HTTPS clients: the receive
// block, the header of the first block, and the body going to the local file.
#pragma once

#include <cstdint>

#include "fetch/http_local_file.h"

// Bytes of the receive block.
constexpr int kUpdRecvBlockSize = 8192;

// The one receive block of both clients (fetches never overlap).
extern char g_upd_recv_block[kUpdRecvBlockSize];

// Characters of the response shown (escaped) in the header messages.
constexpr int kUpdHttpShowMax = 512;

// What the first block of a response says.
enum UpdHttpHeadKind {
  UPD_HTTP_HEAD_OK = 0,     // status 200 and the header's end in the block
  UPD_HTTP_HEAD_NOT_200 = 1, // the status line does not carry status 200
  UPD_HTTP_HEAD_NO_END = 2,  // status 200, but no empty line in the block
};

// The header of a response as read from its first block.
struct UpdHttpHead {
  int body_offset;        // first body byte in the block (valid with UPD_HTTP_HEAD_OK)
  int64_t content_length; // Content-Length, or -1 when the header has none usable
};

// Reads the first block (`len` bytes, any bytes): the status line must be
// "HTTP/<digits>.<digits> 200" followed by a blank or the line's end, and
// the header must end with "\r\n\r\n" inside the block.
UpdHttpHeadKind UpdHttpParseHead(const char* block, int len, UpdHttpHead* head);

// One response being received into a local file.
struct UpdHttpResponse {
  UpdLocalFile* file;     // where the body goes
  const char* who;        // name in the messages: "HttpGet" or "SSL HttpGet"
  int head_seen;          // 1 once the first block with bytes was handled
  int64_t content_length; // from the header, or -1
  int64_t body_bytes;     // body bytes written so far
};

// Starts a response into `file`.
void UpdHttpResponseStart(UpdHttpResponse* r, UpdLocalFile* file, const char* who);

// Takes one filled block of `len` bytes (more than 0): the first carries the
// header ("%s Error: %s" or "%s Error - Invalid Hdr: %s" with the first
// 512 bytes escaped when it is not acceptable), the body bytes are written to the file. 0, or -1 logged.
int UpdHttpResponseBlock(UpdHttpResponse* r, const char* block, int len);

// Ends a response whose connection closed: fails (logged) when the header
// announced more body bytes than arrived. 0 or -1.
int UpdHttpResponseEnd(UpdHttpResponse* r);
