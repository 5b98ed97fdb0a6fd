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
  std::vector<PlatAdapterAddress> unicast; // unicast addresses in listing order
};

// Lists the machine's adapters with their unicast addresses. 0, or -1 with
// the last error (a Windows error code).
int PlatListAdapters(std::vector<PlatAdapter>* out);
