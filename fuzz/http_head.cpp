// Fuzzes the reading of a response's first block: the input is the block
// (copied into a buffer of exactly its size, so a read past it is caught).
// An accepted header ends inside the block with "\r\n\r\n", its status line
// carries 200, and a Content-Length is never negative but -1.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fetch/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kUpdRecvBlockSize)) return 0;
  std::unique_ptr<char[]> block(new char[size ? size : 1]);
  if (size) std::memcpy(block.get(), data, size);
  UpdHttpHead head;
  UpdHttpHeadKind kind = UpdHttpParseHead(block.get(), static_cast<int>(size), &head);
  if (kind == UPD_HTTP_HEAD_OK) {
    if (head.body_offset < 4 || static_cast<size_t>(head.body_offset) > size) std::abort();
    if (std::memcmp(block.get() + head.body_offset - 4, "\r\n\r\n", 4) != 0) std::abort();
    if (size < 12 || std::memcmp(block.get(), "HTTP/", 5) != 0) std::abort();
    if (head.content_length < -1) std::abort();
  }
  return 0;
}
