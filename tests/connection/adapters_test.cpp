// MAC addresses of adapters: the choices over given adapter lists, and the
// machine's own listing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "connection/adapters.h"
#include "tests/support/child.h"

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

// The listing and the choice over a network of known adapters, made in a
// private network namespace (with its own /sys): a veth pair (both ends up, each with an IPv4
// address), a bridge left down, and a second bridge with the first veth
// end's address. Prints one line per answer.
TQ_CHILD_ROLE(adapters_in_namespace) {
  char out[1024];
  int rc = RVAdapterMacList(out);
  std::printf("list %d %s\n", rc, out);
  for (const char* local : {"10.200.0.1", "10.200.1.1", "10.200.2.1", "127.0.0.1", "10.200.0.9"}) {
    char mac[32];
    int r = RVAdapterMacForLocal(local, mac);
    std::printf("%s %d %s\n", local, r, mac);
  }
  return 0;
}

// The words of `text` split at `sep`.
std::set<std::string> Split(const std::string& text, char sep, size_t* count = nullptr) {
  std::set<std::string> out;
  size_t n = 0;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find(sep, start);
    if (end == std::string::npos) end = text.size();
    out.insert(text.substr(start, end - start));
    ++n;
    start = end + 1;
  }
  if (count) *count = n;
  return out;
}

TEST(RVAdapterMacList, AdaptersOfAKnownNetwork) {
  std::string probe;
  // The namespace gets its own view of /sys (the adapters' types and states
  // are read there), in a mount namespace of its own.
  if (TqRunCommand("unshare -n -m sh -c 'mount -t sysfs none /sys && ip link add tqv0 type veth peer name tqv1'",
                   &probe) != 0)
    GTEST_SKIP() << "no private network namespace with veth devices here: " << probe;
  const std::string setup =
      "mount -t sysfs none /sys && ip link set lo up"
      " && ip link add tqv0 address 02:00:5e:10:00:01 type veth peer name tqv1 address 02:00:5e:10:00:02"
      " && ip addr add 10.200.0.1/24 dev tqv0 && ip addr add 10.200.1.1/24 dev tqv1"
      " && ip link set tqv0 up && ip link set tqv1 up"
      " && ip link add tqb0 address 02:00:5e:10:00:03 type bridge && ip addr add 10.200.2.1/24 dev tqb0"
      " && ip link add tqb1 address 02:00:5e:10:00:01 type bridge";
  std::string out;
  int rc = TqRunCommand("unshare -n -m sh -c '" + setup + " && exec /proc/" + std::to_string(::getpid()) +
                            "/exe --tq-child adapters_in_namespace'",
                        &out);
  ASSERT_EQ(rc, 0) << out;
  std::vector<std::string> lines;
  for (const std::string& l : Split(out, '\n'))
    if (!l.empty()) lines.push_back(l);
  std::map<std::string, std::string> answers;
  for (const std::string& l : lines) answers[l.substr(0, l.find(' '))] = l.substr(l.find(' ') + 1);
  // The veth pair and the bridges have no device behind them: the list
  // holds none of them (and never loopback).
  EXPECT_EQ(answers["list"], "1 ") << out;
  // The adapter carrying a local address; none for a down adapter, for
  // loopback, or for an address nobody has.
  EXPECT_EQ(answers["10.200.0.1"], "0 02:00:5e:10:00:01") << out;
  EXPECT_EQ(answers["10.200.1.1"], "0 02:00:5e:10:00:02") << out;
  EXPECT_EQ(answers["10.200.2.1"], "-1 ") << out;
  EXPECT_EQ(answers["127.0.0.1"], "-1 ") << out;
  EXPECT_EQ(answers["10.200.0.9"], "-1 ") << out;
}

// Against the system's own reading of this machine's adapters
// (/sys/class/net): every Ethernet-type adapter with a hardware address and
// a device behind it is listed, and nothing is listed that no such adapter has.
TEST(RVAdapterMacList, MatchesTheSystemsListing) {
  std::set<std::string> ethernet;  // addresses of ARPHRD_ETHER adapters
  std::set<std::string> any;       // addresses of every adapter
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/sys/class/net", ec)) {
    std::ifstream type_file(dir.path() / "type");
    std::ifstream address_file(dir.path() / "address");
    std::string type, address;
    if (!(type_file >> type) || !(address_file >> address)) continue;
    if (address.find_first_not_of("0:") == std::string::npos) continue;
    if (!std::filesystem::exists(dir.path() / "device", ec) || std::filesystem::exists(dir.path() / "bridge", ec) ||
        std::filesystem::exists(dir.path() / "tun_flags", ec))
      continue;
    any.insert(address);
    if (type == "1") ethernet.insert(address);
  }
  char out[1024];
  int rc = RVAdapterMacList(out);
  ASSERT_GE(rc, 0);
  std::set<std::string> listed = rc == 0 ? Split(out, ',') : std::set<std::string>{};
  for (const std::string& mac : ethernet) EXPECT_EQ(listed.count(mac), 1u) << mac << " missing from " << out;
  for (const std::string& mac : listed) EXPECT_EQ(any.count(mac), 1u) << mac << " is no real adapter's";
}

// A given interface directory: a real NIC (a device link), a bridge, a veth
// pair, a tun, loopback, a virtual interface that claims a device but is a
// bridge, and damaged entries. Only the NIC's address is listed.
TEST(RVAdapterMacList, OnlyAdaptersWithADeviceOfAGivenTree) {
  char tmpl[] = "/tmp/tq-net-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  namespace fs = std::filesystem;
  auto make = [&](const std::string& name, const std::string& type, const std::string& address,
                  std::vector<std::string> entries) {
    fs::create_directories(root + "/" + name);
    std::ofstream(root + "/" + name + "/type") << type << "\n";
    std::ofstream(root + "/" + name + "/address") << address << "\n";
    std::ofstream(root + "/" + name + "/operstate") << "up\n";
    for (const std::string& e : entries) {
      if (e == "device") {
        fs::create_directories(root + "/devices/pci0000:00/" + name);
        fs::create_directory_symlink(root + "/devices/pci0000:00/" + name, root + "/" + name + "/device");
      } else {
        fs::create_directories(root + "/" + name + "/" + e);
      }
    }
  };
  make("enp3s0", "1", "00:1a:2b:3c:4d:5e", {"device"});
  make("wlp2s0", "1", "aa:bb:cc:dd:ee:ff", {"device", "wireless"});
  make("br0", "1", "02:42:00:00:00:01", {"bridge"});
  make("docker0", "1", "02:42:00:00:00:02", {"bridge"});
  make("veth1a2b", "1", "02:42:00:00:00:03", {});
  make("veth3c4d", "1", "02:42:00:00:00:04", {});
  make("tun0", "65534", "", {"tun_flags"});
  make("tap0", "1", "02:42:00:00:00:05", {"tun_flags"});
  make("lo", "772", "00:00:00:00:00:00", {"device"});
  make("brdev", "1", "02:42:00:00:00:06", {"device", "bridge"});
  make("nicgarbage", "1", "zz:1a", {"device"});
  make("nicdangling", "1", "02:42:00:00:00:07", {});
  fs::create_symlink(root + "/nowhere", root + "/nicdangling/device");  // a device link to nothing

  const struct {
    const char* name;
    int is_virtual;
    uint32_t type;
  } cases[] = {
      {"enp3s0", 0, PLAT_IF_TYPE_ETHERNET},   {"wlp2s0", 0, PLAT_IF_TYPE_WIRELESS},
      {"br0", 1, PLAT_IF_TYPE_ETHERNET},      {"docker0", 1, PLAT_IF_TYPE_ETHERNET},
      {"veth1a2b", 1, PLAT_IF_TYPE_ETHERNET}, {"veth3c4d", 1, PLAT_IF_TYPE_ETHERNET},
      {"tun0", 1, PLAT_IF_TYPE_TUNNEL},       {"tap0", 1, PLAT_IF_TYPE_ETHERNET},
      {"lo", 1, PLAT_IF_TYPE_LOOPBACK},       {"brdev", 1, PLAT_IF_TYPE_ETHERNET},
      {"nicgarbage", 0, PLAT_IF_TYPE_ETHERNET}, {"nicdangling", 1, PLAT_IF_TYPE_ETHERNET},
      {"missing", 1, 0},
  };
  std::vector<PlatAdapter> adapters;
  for (const auto& c : cases) {
    EXPECT_EQ(PlatAdapterIsVirtual(root.c_str(), c.name), c.is_virtual) << c.name;
    PlatAdapter a{};
    int rc = PlatReadAdapter(root.c_str(), c.name, &a);
    EXPECT_EQ(rc, std::string(c.name) == "missing" ? -1 : 0) << c.name;
    if (rc != 0) continue;
    EXPECT_EQ(a.is_virtual, c.is_virtual) << c.name;
    EXPECT_EQ(a.if_type, c.type) << c.name;
    adapters.push_back(a);
  }
  char out[1024];
  EXPECT_EQ(RVAdapterMacListIn(adapters, out), 0);
  EXPECT_STREQ(out, "00:1a:2b:3c:4d:5e,aa:bb:cc:dd:ee:ff");
  // Without the real adapters nothing is left to list.
  std::vector<PlatAdapter> virtual_only(adapters.begin() + 2, adapters.end());
  EXPECT_EQ(RVAdapterMacListIn(virtual_only, out), 1);
  EXPECT_STREQ(out, "");
  fs::remove_all(root);
}

}  // namespace
