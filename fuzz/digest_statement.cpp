// Fuzzes what the update checks take from the update source: the first byte
// picks the part, the rest is its text.
//   0: a MessageDigest value (UpdParseDigestStatement): no crash, a known
//      digest type, and the file name one of the value's items.
//   1: the content of md.txt checked against a fixed script with SHA-256
//      (UpdVerifyDigest over LocalShare): verified exactly when the first
//      line starts with the script's Base64 digest.
//   2: the content of sig.txt for a fixed file (UpdVerifySignature): never
//      verified (nothing here can forge the compiled-in key's signature),
//      and no line, however long or odd, overruns a buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "crypto/crypto_lib.h"
#include "crypto/crypto_runtime.h"
#include "engine/config.h"
#include "fetch/digest_check.h"
#include "fetch/digest_statement.h"
#include "fetch/signature_check.h"
#include "fuzz/support/relocated_system.h"
#include "runtime/alloc.h"

namespace {

std::string g_root;     // the temporary directory of the relocated system
std::string g_computed; // Base64 SHA-256 of the fixed script

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Relocates the system into a fresh temporary directory (removed at exit)
// whose "work" folder becomes the current directory; the update source is
// its "server" folder, reached over LocalShare.
void Setup() {
  g_root = fuzz_support::Relocate();
  std::filesystem::create_directories(g_root + "/work");
  std::filesystem::create_directories(g_root + "/server");
  if (::chdir((g_root + "/work").c_str()) != 0) std::abort();
  if (RVCryptoInitLib() != 0) std::abort();
  g_upd_config = RVAllocRecord<UpdConfig>();
  g_upd_config->protocol = UPD_PROTO_LOCALSHARE;
  g_upd_config->script = RVStrDup("updscript.txt");
  UpdConfigToFetch(g_upd_config);
  static const uint8_t script[] = "MessageDigest Filename=md.txt,Type=sha256\n";
  WriteAll("updscript.txt", script, sizeof script - 1);
  WriteAll("pkg.msi", script, sizeof script - 1);
  unsigned char digest[RV_DIGEST_MAX_LEN];
  char text[RV_DIGEST_MAX_LEN * 2];
  RVCryptoLib* lib = RVCryptoGetLib();
  int n = lib->digest_file("updscript.txt", digest, RV_DIGEST_SHA256);
  if (n != 32 || lib->b64_encode(digest, n, text) != 44) std::abort();
  g_computed = text;
}

void FuzzStatement(const char* value, size_t len) {
  UpdDigestChoice choice;
  UpdParseDigestStatement(value, &choice);
  if (choice.type < 0 || choice.type > RV_DIGEST_SHA512) __builtin_trap();
  if (choice.file_name.size() > len || choice.missing_key.size() > len) __builtin_trap();
  if (!choice.file_name.empty() && std::string(value).find(choice.file_name) == std::string::npos) __builtin_trap();
}

void FuzzDigestFile(const uint8_t* data, size_t size) {
  std::string server_md = g_root + "/server/md.txt";
  WriteAll(server_md, data, size);
  int r = UpdVerifyDigest(server_md.c_str(), RV_DIGEST_SHA256);
  // The first line as the service reads it: at most 255 characters.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string first = text.substr(0, text.find('\n'));
  first = first.substr(0, 255);
  first = first.substr(0, std::strlen(first.c_str()));
  bool expect = first.compare(0, g_computed.size(), g_computed) == 0;
  if ((r == 0) != expect) __builtin_trap();
}

void FuzzSignatureFile(const uint8_t* data, size_t size) {
  WriteAll("sig.txt", data, size);
  if (UpdVerifySignature("pkg.msi") == 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  switch (data[0] % 3) {
    case 0: {
      std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
      FuzzStatement(value.c_str(), value.size());
      break;
    }
    case 1: FuzzDigestFile(data + 1, size - 1); break;
    default: FuzzSignatureFile(data + 1, size - 1); break;
  }
  return 0;
}
