// The response side shared by the HTTP and HTTPS clients: the receive
// block, the header of the first block, and the body going to the local
// file within its bounds (Content-Length, a size cap, a least rate, the
// program's stop).
#pragma once

#include <cstdint>

#include "fetch/http_local_file.h"

// Bytes of the receive block that holds the first part of a response: the
// whole header must fit in it.
constexpr int kUpdRecvBlockSize = 8192;

// The one receive block of both clients (fetches never overlap).
extern char g_upd_recv_block[kUpdRecvBlockSize];

// Bytes of one receive of the body after the first block.
constexpr int kUpdBodyReadSize = 256 * 1024;

// Characters of the response shown (escaped) in the header messages.
constexpr int kUpdHttpShowMax = 512;

// What the first block of a response says.
enum UpdHttpHeadKind {
  UPD_HTTP_HEAD_OK = 0,         // status 200 and the header's end in the block
  UPD_HTTP_HEAD_NOT_200 = 1,    // the status line does not carry status 200
  UPD_HTTP_HEAD_NO_END = 2,     // status 200, but no empty line in the block
  UPD_HTTP_HEAD_BAD_LENGTH = 3, // status 200 and the end, but a Content-Length that is not one number
};

// The header of a response as read from its first block.
struct UpdHttpHead {
  int body_offset;        // first body byte in the block (valid with UPD_HTTP_HEAD_OK)
  int64_t content_length; // Content-Length, or -1 when the header has none
};

// Reads the first block (`len` bytes, any bytes): the status line must be
// "HTTP/<digits>.<digits> 200" followed by a blank or the line's end, and
// the header must end with "\r\n\r\n" inside the block. Every Content-Length
// line must hold the same decimal number of at most 18 digits (blanks around
// it allowed); anything else is UPD_HTTP_HEAD_BAD_LENGTH.
UpdHttpHeadKind UpdHttpParseHead(const char* block, int len, UpdHttpHead* head);

// The receive side of one client's connection.
struct UpdHttpChannel {
  void* ctx; // the client's connection
  // Receives up to `len` bytes, waiting at most `wait_ms` for the first of
  // them: the bytes received (more than 0), 0 when the peer closed, -1 on a
  // failure (logged with the client's receive failure line), -2 when
  // nothing arrived in time (not logged).
  int (*recv)(void* ctx, char* buf, int len, int wait_ms);
  // Logs the client's receive failure line for a peer that sent too little
  // in time.
  void (*log_timeout)(void* ctx);
};

// Receives a response from `channel` into `file`: the first block of up to
// 8,192 bytes carries the header ("%s Error: %s" or "%s Error - Invalid Hdr:
// %s" with the first 512 bytes escaped when it is not acceptable), the body
// is written as it comes, and reading ends at Content-Length when the header
// gives one (more is never read or written), else when the peer closes.
// `max_bytes` (0: none) caps the body; a peer that keeps silent for the
// stall limit, or brings fewer than the least rate over the rate window,
// ends as a receive failure; a stop request ends the fetch between reads.
// `who` names the client in the messages. 0, or -1 logged (the file is left
// to the caller to discard).
int UpdHttpReceive(const UpdHttpChannel* channel, UpdLocalFile* file, const char* who, int64_t max_bytes);
