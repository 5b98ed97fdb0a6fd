// The signature check of install files and their download.
#include "fetch/signature_check.h"

#include <cstdio>
#include <cstring>

#include "crypto/crypto_runtime.h"
#include "fetch/fetch_file.h"
#include "fetch/signing_key.h"
#include "platform/file.h"
#include "runtime/alloc.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

// Bytes of sig.txt's first line read: 1,023 characters and the terminator.
constexpr int kSigLineSize = 1024;

// Room for the decoded signature.
constexpr int kSigSize = 1024;

// SHA-1 digest length.
constexpr int kSha1Len = 20;

// Reads the first line of sig.txt into `line` without its line break.
// -1 after logging when it cannot be opened or is longer than the buffer.
int ReadSignatureLine(char line[kSigLineSize]) {
  FILE* f = PlatFileOpen(kUpdSignatureFile, "r");
  if (!f) {
    UpdMessage(9, "Error opening sig file: %s", kUpdSignatureFile);
    return -1;
  }
  int len = 0;
  int c = EOF;
  while (len < kSigLineSize - 1 && (c = std::fgetc(f)) != EOF && c != '\n') line[len++] = static_cast<char>(c);
  line[len] = '\0';
  // A full buffer is the whole line only when the line ends right there.
  bool whole = len < kSigLineSize - 1;
  if (!whole) {
    int next = std::fgetc(f);
    whole = next == EOF || next == '\n' || next == '\r';
  }
  std::fclose(f);
  if (!whole) {
    UpdMessage(9, "Signature line longer than %d characters in: %s", kSigLineSize - 1, kUpdSignatureFile);
    return -1;
  }
  line[std::strcspn(line, "\r\n")] = '\0';
  return 0;
}

}  // namespace

int UpdLocalFileName(const char* install_file, char* out) {
  char name[kUpdNameSize];
  UpdNormalizeName(install_file, name);
  const char* slash = std::strrchr(name, '/');
  const char* last = slash ? slash + 1 : name;
  std::memmove(out, last, std::strlen(last) + 1);
  if (!*out || std::strcmp(out, ".") == 0 || std::strcmp(out, "..") == 0) return -1;
  return 0;
}

int UpdVerifySignature(const char* local_file) {
  RVCryptoLib* lib = RVCryptoGetLib();
  unsigned char digest[RV_DIGEST_MAX_LEN];
  int digest_len = -1;
  if (lib) {
    RVCryptoGuard guard;
    digest_len = lib->digest_file(local_file, digest, RV_DIGEST_SHA1);
  }
  if (digest_len <= 0) {
    RVShown shown;
    UpdMessage(9, "Error Calculating Message Digest on file: %s", RVShowText(&shown, local_file));
    return -1;
  }

  char line[kSigLineSize];
  if (ReadSignatureLine(line) != 0) return -1;

  unsigned char sig[kSigSize];
  int sig_len;
  {
    RVCryptoGuard guard;
    sig_len = lib->b64_decode(line, sig);
  }
  if (sig_len < 0) {
    UpdMessage(9, "Error converting b64sig to binary sig");
    return -1;
  }

  // A signature made with any compiled-in key is accepted.
  for (int i = 0; i < UpdSigningPublicKeyCount(); ++i) {
    RVCryptoKey* key = RVAllocRecord<RVCryptoKey>();
    key->type = RV_CRYPTO_RSA;
    key->key_pem = RVStrDup(UpdSigningPublicKeyAt(i));
    {
      RVCryptoGuard guard;
      key->key = lib->public_key_read_mem(key->key_pem, RV_CRYPTO_RSA);
    }
    if (!key->key) {
      UpdMessage(9, "Error Opening Mem Public Key");
      RVCryptoKeyFree(key);
      return -1;
    }
    int verified;
    {
      RVCryptoGuard guard;
      verified = lib->verify(key->key, digest, kSha1Len, sig, sig_len, RV_CRYPTO_RSA, nullptr);
    }
    RVCryptoKeyFree(key);
    if (verified == 0) return 0;
  }
  return -1;
}
