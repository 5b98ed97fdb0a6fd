// Fuzzes the message reader over the in-memory transport: the first input
// byte selects the receiving header form, scrambling and a fixed-key
// cipher; the rest is the peer's byte stream. Every message is taken and
// read with the get operations; the reader must end (broken or closed)
// without a fault and with bounded memory.
#include <cstdint>
#include <cstdlib>

#include "connection/ext.h"
#include "connection/ext_channel.h"
#include "crypto/crypto_runtime.h"
#include "runtime/report.h"

namespace {
void Quiet(const char*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int ready = [] {
    static const RVReportHooks hooks = {Quiet, Quiet, Quiet};
    RVSetReportHooks(&hooks);
    setenv("TQ_TEST_SECOND_MS", "1", 1);
    return RVCryptoInitLibBare();
  }();
  if (size < 1 || ready != 0) return 0;
  uint8_t mode = data[0];
  RVExt* e = RVExtFromTransport(RVTransportMemoryInput(data + 1, size - 1), (mode & 0x80) != 0);
  e->flags &= ~RVEXT_SEND_CLOSE;
  if (mode & 1) e->flags |= RVEXT_RECV_CHECKED;
  if (mode & 2) e->flags |= RVEXT_EXTENDED;
  if (mode & 4) e->flags |= RVEXT_SCRAMBLE_IN;
  if (mode & 8) {
    static const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    RVChannelInstall(e, RV_CIPHER_AES, 1, key, 16, key, 16, key, 16);
    if (mode & 16) e->flags |= RVEXT_RECV_VECTORS;
  }
  for (int n = 0; n < 100000; ++n) {
    RVMsg* m = RVExtGetMsg(e);
    if (!m) break;
    char buf[64];
    RVMsgGetByte(m);
    RVMsgGetShort(m);
    RVMsgGetLong(m);
    RVMsgGetInt64(m, mode & 32);
    RVMsgGetStr(m, buf, sizeof buf);
    RVMsgFree(m);
  }
  RVExtFree(e);
  return 0;
}
