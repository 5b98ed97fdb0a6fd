// Hardware (MAC) addresses of the machine's network adapters.
#include "connection/adapters.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/error.h"
#include "runtime/report.h"

namespace {

constexpr const char kMappedPrefix[] = "::ffff:"; // IPv4 address mapped into IPv6

// True for the interface types whose adapters carry a MAC address that counts.
bool CountedType(uint32_t if_type) {
  return if_type == PLAT_IF_TYPE_ETHERNET || if_type == PLAT_IF_TYPE_TOKEN_RING ||
         if_type == PLAT_IF_TYPE_WIRELESS || if_type == PLAT_IF_TYPE_IEEE1394;
}

// Formats an adapter's physical address into `out` (24 bytes).
void FormatMac(const PlatAdapter& a, char* out) {
  size_t pos = 0;
  out[0] = '\0';
  uint32_t n = a.phys_len > sizeof a.phys ? static_cast<uint32_t>(sizeof a.phys) : a.phys_len;
  for (uint32_t i = 0; i < n; ++i)
    pos += static_cast<size_t>(std::snprintf(out + pos, 24 - pos, i ? ":%02x" : "%02x", a.phys[i]));
}

// True when `mac` is one of the comma-separated entries of `list`.
bool Listed(const char* list, const char* mac) {
  size_t len = std::strlen(mac);
  for (const char* p = list; *p;) {
    const char* comma = std::strchr(p, ',');
    size_t n = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
    if (n == len && std::strncmp(p, mac, len) == 0) return true;
    if (!comma) break;
    p = comma + 1;
  }
  return false;
}

// Lists the adapters, reporting a failure.
int List(std::vector<PlatAdapter>* adapters) {
  if (PlatListAdapters(adapters) == 0) return 0;
  RVReportError("GetAdaptersAddresses() Error: %d", static_cast<int>(PlatGetLastError()));
  return -1;
}

}  // namespace

int RVAdapterMacForLocalIn(const std::vector<PlatAdapter>& adapters, const char* local_address, char* out) {
  out[0] = '\0';
  if (!local_address || !*local_address) return -1;
  const char* local = local_address;
  if (strncasecmp(local, kMappedPrefix, sizeof kMappedPrefix - 1) == 0) local += sizeof kMappedPrefix - 1;
  for (const PlatAdapter& a : adapters) {
    if (a.phys_len == 0 || !CountedType(a.if_type) || a.oper_status == PLAT_IF_OPER_DOWN) continue;
    for (const PlatAdapterAddress& u : a.unicast) {
      char text[96];
      if (u.family == 6) {
        if (strncasecmp(u.text, "fe80", 4) == 0)
          std::snprintf(text, sizeof text, "%s%%%u", u.text, a.ipv6_index);
        else
          std::snprintf(text, sizeof text, "%s", u.text);
      } else if (u.family == 4) {
        std::snprintf(text, sizeof text, "%s", u.text);
      } else {
        continue;
      }
      if (strcasecmp(text, local) == 0) {
        FormatMac(a, out);
        return 0;
      }
    }
  }
  return -1;
}

int RVAdapterMacListIn(const std::vector<PlatAdapter>& adapters, char* out) {
  out[0] = '\0';
  size_t len = 0;
  for (const PlatAdapter& a : adapters) {
    if (a.phys_len == 0 || a.is_virtual || !CountedType(a.if_type)) continue;
    char mac[24];
    FormatMac(a, mac);
    size_t n = std::strlen(mac);
    if (Listed(out, mac) || len + n + 1 > static_cast<size_t>(kRVMacListMax)) continue;
    std::memcpy(out + len, mac, n);
    out[len + n] = ',';
    len += n + 1;
    out[len] = '\0';
  }
  if (len == 0) return 1;
  out[len - 1] = '\0';
  return 0;
}

int RVAdapterMacForLocal(const char* local_address, char* out) {
  out[0] = '\0';
  if (!local_address || !*local_address) return -1;
  std::vector<PlatAdapter> adapters;
  if (List(&adapters) != 0) return -1;
  return RVAdapterMacForLocalIn(adapters, local_address, out);
}

int RVAdapterMacList(char* out) {
  out[0] = '\0';
  std::vector<PlatAdapter> adapters;
  if (List(&adapters) != 0) return -1;
  return RVAdapterMacListIn(adapters, out);
}
