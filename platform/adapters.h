// Network adapters: their interface types, states, hardware addresses and
// unicast addresses, in the shape of the Windows adapter listing.
#pragma once

#include <cstdint>
#include <vector>

// Interface types (IANA ifType numbers, as Windows reports them).
enum : uint32_t {
  PLAT_IF_TYPE_OTHER = 1,
  PLAT_IF_TYPE_ETHERNET = 6,
  PLAT_IF_TYPE_TOKEN_RING = 9,
  PLAT_IF_TYPE_PPP = 23,
  PLAT_IF_TYPE_LOOPBACK = 24,
  PLAT_IF_TYPE_WIRELESS = 71,
  PLAT_IF_TYPE_TUNNEL = 131,
  PLAT_IF_TYPE_IEEE1394 = 144,
};

// Operational states (the Windows IF_OPER_STATUS numbers).
enum : uint32_t {
  PLAT_IF_OPER_UP = 1,
  PLAT_IF_OPER_DOWN = 2,
  PLAT_IF_OPER_TESTING = 3,
  PLAT_IF_OPER_UNKNOWN = 4,
  PLAT_IF_OPER_DORMANT = 5,
  PLAT_IF_OPER_NOT_PRESENT = 6,
  PLAT_IF_OPER_LOWER_LAYER_DOWN = 7,
};

// One unicast address of an adapter.
struct PlatAdapterAddress {
  int family;    // 4 (IPv4) or 6 (IPv6); other values for other families
  char text[64]; // numeric form, an IPv6 address without a zone suffix
};

// One network adapter.
struct PlatAdapter {
  char name[64];                           // interface name
  uint32_t if_type;                        // PLAT_IF_TYPE_*
  uint32_t oper_status;                    // PLAT_IF_OPER_*
  uint32_t ipv6_index;                     // interface index (the IPv6 zone of its link-local addresses)
  uint32_t phys_len;                       // bytes of phys in use (0: no hardware address)
  unsigned char phys[8];                   // hardware (MAC) address
  int is_virtual;                           // 1: no device behind it (bridge, veth, tun/tap, loopback, ...)
  std::vector<PlatAdapterAddress> unicast; // unicast addresses in listing order
};

// The interface directory of the machine: "/sys/class/net".
extern const char* const kPlatNetClassDir;

// 1 when interface `name` of the interface directory `net_dir` (null: the
// machine's) is virtual: it has no "device" entry (a hardware or bus device
// behind it), or it is a bridge ("bridge"), a tun/tap ("tun_flags") or a
// loopback interface (type 772), whatever stands behind it; 0 when it is a
// real adapter. A missing interface directory counts as virtual.
int PlatAdapterIsVirtual(const char* net_dir, const char* name);

// Fills `out` with what the interface directory `net_dir` (null: the
// machine's) tells of interface `name`: name, type, state, index ("ifindex"),
// virtual or not, and the hardware address of its "address" entry (all
// zeros or none: phys_len 0). No unicast addresses. 0, or -1 with
// ERROR_FILE_NOT_FOUND when `name` has no directory there.
int PlatReadAdapter(const char* net_dir, const char* name, PlatAdapter* out);

// Lists the machine's adapters with their unicast addresses. 0, or -1 with
// the last error (a Windows error code).
int PlatListAdapters(std::vector<PlatAdapter>* out);
