// MAC addresses of adapters: the choices over given adapter lists, and the
// machine's own listing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connection/adapters.h"

namespace {

// An adapter record for the tables.
PlatAdapter Adapter(uint32_t type, uint32_t oper, uint32_t index, std::vector<unsigned char> mac,
                    std::vector<std::pair<int, const char*>> addresses) {
  PlatAdapter a{};
  std::snprintf(a.name, sizeof a.name, "if%u", index);
  a.if_type = type;
  a.oper_status = oper;
  a.ipv6_index = index;
  a.phys_len = static_cast<uint32_t>(mac.size());
  if (!mac.empty()) std::memcpy(a.phys, mac.data(), mac.size());
  for (auto& [family, text] : addresses) {
    PlatAdapterAddress u{};
    u.family = family;
    std::snprintf(u.text, sizeof u.text, "%s", text);
    a.unicast.push_back(u);
  }
  return a;
}

const std::vector<PlatAdapter>& Machine() {
  static const std::vector<PlatAdapter> adapters = {
      Adapter(PLAT_IF_TYPE_LOOPBACK, PLAT_IF_OPER_UP, 1, {}, {{4, "127.0.0.1"}, {6, "::1"}}),
      Adapter(PLAT_IF_TYPE_ETHERNET, PLAT_IF_OPER_DOWN, 2, {0x02, 0, 0, 0, 0, 0x02}, {{4, "10.9.9.9"}}),
      Adapter(PLAT_IF_TYPE_ETHERNET, PLAT_IF_OPER_UP, 12, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E},
              {{4, "192.168.1.20"}, {6, "fe80::21a:2bff:fe3c:4d5e"}, {6, "2001:DB8::20"}}),
      Adapter(PLAT_IF_TYPE_WIRELESS, PLAT_IF_OPER_UNKNOWN, 13, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
              {{4, "172.16.0.5"}, {6, "fe80::1"}}),
      Adapter(PLAT_IF_TYPE_TUNNEL, PLAT_IF_OPER_UP, 14, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {{4, "10.8.0.1"}}),
      Adapter(PLAT_IF_TYPE_IEEE1394, PLAT_IF_OPER_UP, 15, {1, 2, 3, 4, 5, 6, 7, 8}, {{4, "169.254.3.3"}, {9, "x"}}),
      Adapter(PLAT_IF_TYPE_TOKEN_RING, PLAT_IF_OPER_UP, 16, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {{4, "10.7.0.1"}}),
      Adapter(PLAT_IF_TYPE_ETHERNET, PLAT_IF_OPER_UP, 17, {}, {{4, "10.6.0.1"}}),
  };
  return adapters;
}

TEST(RVAdapterMacForLocal, ChoosesTheCarryingAdapter) {
  struct Case {
    const char* local; // the connection's local address
    int result;        // 0 or -1
    const char* mac;   // the MAC address written
  } cases[] = {
      {"192.168.1.20", 0, "00:1a:2b:3c:4d:5e"},
      {"::ffff:192.168.1.20", 0, "00:1a:2b:3c:4d:5e"},  // a mapped IPv4 address
      {"::FFFF:192.168.1.20", 0, "00:1a:2b:3c:4d:5e"},
      {"fe80::21a:2bff:fe3c:4d5e%12", 0, "00:1a:2b:3c:4d:5e"},  // link-local with its zone
      {"FE80::21A:2BFF:FE3C:4D5E%12", 0, "00:1a:2b:3c:4d:5e"},
      {"fe80::21a:2bff:fe3c:4d5e%13", -1, ""},  // the zone of another adapter
      {"fe80::21a:2bff:fe3c:4d5e", -1, ""},     // without its zone
      {"2001:db8::20", 0, "00:1a:2b:3c:4d:5e"},  // case does not matter
      {"fe80::1%13", 0, "aa:bb:cc:dd:ee:ff"},     // wireless, state unknown (not down)
      {"172.16.0.5", 0, "aa:bb:cc:dd:ee:ff"},
      {"10.9.9.9", -1, ""},     // the adapter is down
      {"127.0.0.1", -1, ""},    // loopback is not one of the types
      {"10.8.0.1", -1, ""},     // nor a tunnel
      {"169.254.3.3", 0, "01:02:03:04:05:06:07:08"},
      {"10.7.0.1", 0, "00:1a:2b:3c:4d:5e"},  // token ring
      {"10.6.0.1", -1, ""},     // no hardware address
      {"10.0.0.99", -1, ""},
      {"", -1, ""},
      {"x", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local);
    char out[32] = "junk";
    EXPECT_EQ(RVAdapterMacForLocalIn(Machine(), c.local, out), c.result);
    EXPECT_STREQ(out, c.mac);
  }
}

TEST(RVAdapterMacList, ListsEachOnce) {
  char out[1024];
  // Down adapters count here; duplicates, loopback, tunnels and adapters
  // without a hardware address do not.
  EXPECT_EQ(RVAdapterMacListIn(Machine(), out), 0);
  EXPECT_STREQ(out, "02:00:00:00:00:02,00:1a:2b:3c:4d:5e,aa:bb:cc:dd:ee:ff,01:02:03:04:05:06:07:08");

  std::vector<PlatAdapter> none = {Machine()[0], Machine()[4], Machine()[7]};
  std::strcpy(out, "junk");
  EXPECT_EQ(RVAdapterMacListIn(none, out), 1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(RVAdapterMacListIn({}, out), 1);
}

TEST(RVAdapterMacList, CappedAt1023Characters) {
  // 60 distinct addresses of 17 characters: 56 of them with their commas
  // fit into 1,023 characters (56 * 18 = 1,008), the 57th would not.
  std::vector<PlatAdapter> many;
  for (unsigned i = 0; i < 60; ++i)
    many.push_back(Adapter(PLAT_IF_TYPE_ETHERNET, PLAT_IF_OPER_UP, i, {0x02, 0, 0, 0, 0, static_cast<unsigned char>(i)}, {}));
  char out[1024];
  EXPECT_EQ(RVAdapterMacListIn(many, out), 0);
  EXPECT_EQ(std::strlen(out), 56u * 18 - 1);
  EXPECT_EQ(std::string(out).substr(0, 35), "02:00:00:00:00:00,02:00:00:00:00:01");
  EXPECT_EQ(std::string(out).substr(std::strlen(out) - 17), "02:00:00:00:00:37");

  // A shorter address still fits after a longer one did not.
  many.push_back(Adapter(PLAT_IF_TYPE_ETHERNET, PLAT_IF_OPER_UP, 99, {0x0a}, {}));
  EXPECT_EQ(RVAdapterMacListIn(many, out), 0);
  EXPECT_EQ(std::string(out).substr(std::strlen(out) - 3), ",0a");
  EXPECT_LE(std::strlen(out), 1023u);
}

TEST(RVAdapterMacList, MachineListing) {
  std::vector<PlatAdapter> adapters;
  ASSERT_EQ(PlatListAdapters(&adapters), 0);
  bool loopback = false;
  for (const PlatAdapter& a : adapters)
    if (a.if_type == PLAT_IF_TYPE_LOOPBACK) {
      loopback = true;
      bool has_127 = false;
      for (const PlatAdapterAddress& u : a.unicast) has_127 = has_127 || std::string(u.text) == "127.0.0.1";
      EXPECT_TRUE(has_127);
    }
  EXPECT_TRUE(loopback);
  char out[1024];
  int rc = RVAdapterMacList(out);
  EXPECT_TRUE(rc == 0 || rc == 1);
  EXPECT_EQ(rc == 1, out[0] == '\0');
  // Loopback carries no counted MAC address.
  char mac[32];
  EXPECT_EQ(RVAdapterMacForLocal("127.0.0.1", mac), -1);
  EXPECT_EQ(RVAdapterMacForLocal("", mac), -1);
  // Every adapter of a counted type with an address that is up is found by it.
  for (const PlatAdapter& a : adapters) {
    if (a.phys_len == 0 || a.oper_status == PLAT_IF_OPER_DOWN ||
        (a.if_type != PLAT_IF_TYPE_ETHERNET && a.if_type != PLAT_IF_TYPE_WIRELESS))
      continue;
    for (const PlatAdapterAddress& u : a.unicast) {
      if (u.family != 4) continue;
      SCOPED_TRACE(u.text);
      EXPECT_EQ(RVAdapterMacForLocal(u.text, mac), 0);
      EXPECT_NE(std::string(out).find(mac), std::string::npos);
    }
  }
}

}  // namespace
