// POSIX implementation of platform/adapters.h: getifaddrs for the hardware
// and unicast addresses, /sys/class/net for type, state and index.
#include "platform/adapters.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>

#include "platform/error.h"

const char* const kPlatNetClassDir = "/sys/class/net";

namespace {

// The interface directory to read: `net_dir`, or the machine's.
const char* NetDir(const char* net_dir) { return net_dir && *net_dir ? net_dir : kPlatNetClassDir; }

// First line of attribute `attr` of interface `name` under `dir`; empty when missing.
std::string SysAttr(const char* dir, const char* name, const char* attr) {
  std::string path = std::string(dir) + "/" + name + "/" + attr;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return "";
  char buf[128] = {0};
  if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
  std::fclose(f);
  std::string s(buf);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// True when <dir>/<name>/<entry> exists (a link is followed).
bool SysExists(const char* dir, const char* name, const char* entry) {
  std::string path = std::string(dir) + "/" + name + "/" + entry;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Interface type of `name` from its ARPHRD number and wireless entries.
uint32_t IfType(const char* dir, const char* name) {
  std::string t = SysAttr(dir, name, "type");
  long arp = t.empty() ? -1 : std::strtol(t.c_str(), nullptr, 10);
  switch (arp) {
    case ARPHRD_ETHER:
      if (SysExists(dir, name, "wireless") || SysExists(dir, name, "phy80211")) return PLAT_IF_TYPE_WIRELESS;
      return PLAT_IF_TYPE_ETHERNET;
    case ARPHRD_IEEE802:
    case ARPHRD_IEEE802_TR: return PLAT_IF_TYPE_TOKEN_RING;
    case ARPHRD_IEEE1394: return PLAT_IF_TYPE_IEEE1394;
    case ARPHRD_LOOPBACK: return PLAT_IF_TYPE_LOOPBACK;
    case ARPHRD_PPP: return PLAT_IF_TYPE_PPP;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_NONE: return PLAT_IF_TYPE_TUNNEL;
    default: return PLAT_IF_TYPE_OTHER;
  }
}

// Operational state of `name`.
uint32_t OperStatus(const char* dir, const char* name) {
  std::string s = SysAttr(dir, name, "operstate");
  if (s == "up") return PLAT_IF_OPER_UP;
  if (s == "down") return PLAT_IF_OPER_DOWN;
  if (s == "testing") return PLAT_IF_OPER_TESTING;
  if (s == "dormant") return PLAT_IF_OPER_DORMANT;
  if (s == "notpresent") return PLAT_IF_OPER_NOT_PRESENT;
  if (s == "lowerlayerdown") return PLAT_IF_OPER_LOWER_LAYER_DOWN;
  return PLAT_IF_OPER_UNKNOWN;
}

// The adapter of `name` in `out`, added when first seen.
PlatAdapter* Find(std::vector<PlatAdapter>* out, const char* name) {
  for (PlatAdapter& a : *out)
    if (std::strcmp(a.name, name) == 0) return &a;
  PlatAdapter a{};
  std::snprintf(a.name, sizeof a.name, "%s", name);
  a.if_type = IfType(kPlatNetClassDir, name);
  a.oper_status = OperStatus(kPlatNetClassDir, name);
  a.ipv6_index = ::if_nametoindex(name);
  a.is_virtual = PlatAdapterIsVirtual(kPlatNetClassDir, name);
  out->push_back(a);
  return &out->back();
}

// Parses a hardware address "aa:bb:..." of at most 8 bytes into `a`; an
// address of zeros only, or one that does not parse, leaves phys_len 0.
void ParseMac(const std::string& text, PlatAdapter* a) {
  a->phys_len = 0;
  uint32_t n = 0;
  bool any = false;
  for (const char* p = text.c_str();;) {
    if (n == sizeof a->phys || !std::isxdigit(static_cast<unsigned char>(*p))) return;
    char* end = nullptr;
    unsigned long byte = std::strtoul(p, &end, 16);
    if (end - p > 2) return;
    a->phys[n++] = static_cast<unsigned char>(byte);
    any = any || byte != 0;
    if (*end == '\0') break;
    if (*end != ':') return;
    p = end + 1;
  }
  a->phys_len = any ? n : 0;
}

}  // namespace

int PlatAdapterIsVirtual(const char* net_dir, const char* name) {
  const char* dir = NetDir(net_dir);
  if (!SysExists(dir, name, "")) return 1;
  if (!SysExists(dir, name, "device")) return 1;
  if (SysExists(dir, name, "bridge") || SysExists(dir, name, "tun_flags")) return 1;
  return SysAttr(dir, name, "type") == "772" ? 1 : 0;
}

int PlatReadAdapter(const char* net_dir, const char* name, PlatAdapter* out) {
  const char* dir = NetDir(net_dir);
  *out = PlatAdapter{};
  if (!SysExists(dir, name, "")) {
    PlatSetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  std::snprintf(out->name, sizeof out->name, "%s", name);
  out->if_type = IfType(dir, name);
  out->oper_status = OperStatus(dir, name);
  out->ipv6_index = static_cast<uint32_t>(std::strtoul(SysAttr(dir, name, "ifindex").c_str(), nullptr, 10));
  out->is_virtual = PlatAdapterIsVirtual(dir, name);
  ParseMac(SysAttr(dir, name, "address"), out);
  return 0;
}

int PlatListAdapters(std::vector<PlatAdapter>* out) {
  out->clear();
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    PlatSetLastErrorFromErrno(errno);
    return -1;
  }
  for (struct ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_name) continue;
    PlatAdapter* a = Find(out, i->ifa_name);
    if (!i->ifa_addr) continue;
    int family = i->ifa_addr->sa_family;
    if (family == AF_PACKET) {
      auto* ll = reinterpret_cast<const struct sockaddr_ll*>(i->ifa_addr);
      size_t n = ll->sll_halen;
      if (n > sizeof a->phys) n = sizeof a->phys;
      bool all_zero = true;
      for (size_t k = 0; k < n; ++k) all_zero = all_zero && ll->sll_addr[k] == 0;
      a->phys_len = all_zero ? 0 : static_cast<uint32_t>(n);
      std::memcpy(a->phys, ll->sll_addr, n);
    } else if (family == AF_INET || family == AF_INET6) {
      PlatAdapterAddress addr{};
      addr.family = family == AF_INET ? 4 : 6;
      const void* bytes = family == AF_INET
                              ? static_cast<const void*>(&reinterpret_cast<const struct sockaddr_in*>(i->ifa_addr)->sin_addr)
                              : static_cast<const void*>(&reinterpret_cast<const struct sockaddr_in6*>(i->ifa_addr)->sin6_addr);
      if (!::inet_ntop(family, bytes, addr.text, sizeof addr.text)) continue;
      a->unicast.push_back(addr);
    }
  }
  ::freeifaddrs(list);
  return 0;
}
