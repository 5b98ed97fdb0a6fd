// Name normalisation and the protocol dispatch of UpdFetchFile.
#include "fetch/fetch_file.h"

#include <cstring>

#include "fetch/fetch_settings.h"
#include "fetch/http_get.h"
#include "fetch/local_share.h"
#include "fetch/tqfs_fetch.h"
#include "runtime/util.h"

namespace {

// 1 when `name` begins with one of the URL prefixes. RVIsUrl wants text
// after the prefix; a name that is only a prefix counts too, so the test
// runs on the name with one character appended.
int IsUrlName(const char* name) {
  char probe[kUpdNameSize + 1];
  size_t len = std::strlen(name);
  std::memcpy(probe, name, len);
  probe[len] = 'x';
  probe[len + 1] = '\0';
  return RVIsUrl(probe);
}

}  // namespace

void UpdNormalizeName(const char* in, char out[kUpdNameSize]) {
  size_t len = in ? strnlen(in, kUpdNameSize - 1) : 0;
  if (len) std::memcpy(out, in, len);
  out[len] = '\0';
  bool keep_one = IsUrlName(out) != 0;
  size_t w = 0;
  for (size_t r = 0; r < len; ++r) {
    char c = out[r] == '\\' ? '/' : out[r];
    if (c == '/' && r >= 3 && w > 0 && out[w - 1] == '/') {
      if (!keep_one) continue;
      keep_one = false;
    }
    out[w++] = c;
  }
  out[w] = '\0';
}

int UpdFetchFile(const char* source, const char* destination) {
  return UpdFetchFileCapped(source, destination, g_upd_fetch.max_download_size);
}

int UpdFetchFileCapped(const char* source, const char* destination, int64_t max_bytes) {
  char src[kUpdNameSize];
  char dst[kUpdNameSize];
  UpdNormalizeName(source, src);
  UpdNormalizeName(destination, dst);
  switch (g_upd_fetch.protocol) {
    case UPD_PROTO_HTTP: return HttpGet(src, dst, max_bytes);
    case UPD_PROTO_HTTPS: return HttpsGet(src, dst, max_bytes);
    case UPD_PROTO_TQFS: return UpdTqfsFetch(src, dst);
    case UPD_PROTO_LOCALSHARE: return UpdLocalShareCopy(src, dst, max_bytes);
    default: return -1;
  }
}
