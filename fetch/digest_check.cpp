// The message digest check of the update script.
#include "fetch/digest_check.h"

#include <cstdio>
#include <cstring>

#include "crypto/crypto_runtime.h"
#include "fetch/digest_statement.h"
#include "fetch/fetch_settings.h"
#include "fetch/fetch_file.h"
#include "platform/file.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

// Bytes of md.txt's first line read: 255 characters and the terminator.
constexpr int kDigestLineSize = 256;

// Base64 of the largest digest (88 characters for SHA-512) and terminator.
constexpr int kDigestTextSize = 89;

// Computes the Base64 digest of `file` into `text`; the digest length, or
// 0 or less on failure.
int DigestText(const char* file, int type, char text[kDigestTextSize]) {
  RVCryptoLib* lib = RVCryptoGetLib();
  if (!lib) return -1;
  unsigned char digest[RV_DIGEST_MAX_LEN];
  int len;
  {
    RVCryptoGuard guard;
    len = lib->digest_file(file, digest, type);
  }
  if (len <= 0 || len > RV_DIGEST_MAX_LEN) return len > 0 ? -1 : len;
  RVCryptoGuard guard;
  if (lib->b64_encode(digest, len, text) < 0) return -1;
  return len;
}

}  // namespace

int UpdMessageDigest(const char* value) {
  UpdDigestChoice choice;
  UpdParseDigestStatement(value, &choice);
  RVShown shown;
  if (!choice.missing_key.empty())
    UpdMessage(8, "Missing arg for MessageDigest option: %s", RVShowText(&shown, choice.missing_key.c_str()));
  if (choice.type != 0 && !choice.file_name.empty())
    return UpdVerifyDigest(choice.file_name.c_str(), choice.type) < 0 ? -1 : 0;
  const char* script = g_upd_fetch.script.c_str();
  UpdMessage(9, "No Message Digest Specified in: %s", RVShowText(&shown, script));
  return -1;
}

int UpdVerifyDigest(const char* digest_file, int digest_type) {
  RVShown shown;
  RVShowText(&shown, digest_file);
  if (UpdFetchFileCapped(digest_file, kUpdDigestFile, kUpdDigestFileMaxBytes) != 0) {
    UpdMessage(8, "Failed to fetch Message Digest File: %s", shown.text);
    return -1;
  }
  UpdMessage(3, "Successfully fetched MessageDigest File: %s", shown.text);

  char computed[kDigestTextSize] = {};
  if (DigestText(kUpdScriptFile, digest_type, computed) <= 0) {
    UpdMessage(9, "Error Calculating Message Digest on lcl script file: %s", kUpdScriptFile);
    return -1;
  }

  FILE* f = PlatFileOpen(kUpdDigestFile, "r");
  if (!f) {
    UpdMessage(9, "Error opening lcl md file: %s", kUpdDigestFile);
    return -1;
  }
  char line[kDigestLineSize] = {};
  if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
  std::fclose(f);
  // Only the encoding's length counts; a line break never belongs to it.
  line[std::strcspn(line, "\r\n")] = '\0';
  size_t want = std::strlen(computed);
  if (std::strlen(line) > want) line[want] = '\0';

  if (std::strcmp(computed, line) == 0) {
    UpdMessage(3, "Message Digest Verify on Script File - OK");
    return 0;
  }
  UpdMessage(9, "Message Digest Verify - Failed, Calc: %s, Found: %s", computed, RVShowText(&shown, line));
  return -1;
}
