// Parsing the MessageDigest value.
#include "fetch/digest_statement.h"

#include <strings.h>
#include <vector>

#include "crypto/crypto_lib.h"
#include "runtime/util.h"

namespace {

// Type values and their digest types.
struct DigestName {
  const char* name; // Type value
  int type;         // RV_DIGEST_*
};

constexpr DigestName kDigestNames[] = {
    {"sha512", RV_DIGEST_SHA512}, {"sha256", RV_DIGEST_SHA256},       {"sha1", RV_DIGEST_SHA1},
    {"md5", RV_DIGEST_MD5},       {"ripemd160", RV_DIGEST_RIPEMD160},
};

}  // namespace

int UpdDigestTypeByName(const char* name) {
  if (!name) return 0;
  for (const DigestName& d : kDigestNames)
    if (strcasecmp(name, d.name) == 0) return d.type;
  return 0;
}

void UpdParseDigestStatement(const char* value, UpdDigestChoice* choice) {
  choice->file_name.clear();
  choice->type = RV_DIGEST_SHA1;
  choice->missing_key.clear();
  std::string text = value ? value : "";
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  char* items[kUpdDigestItems];
  int count = RVTokenize(copy.data(), items, kUpdDigestItems, ",=");
  for (int i = 0; i < count; i += 2) {
    if (i + 1 >= count) {
      choice->missing_key = items[i];
      break;
    }
    if (strcasecmp(items[i], "Filename") == 0) choice->file_name = items[i + 1];
    else if (strcasecmp(items[i], "Type") == 0) choice->type = UpdDigestTypeByName(items[i + 1]);
  }
}
