// The machine registry: its ".reg" hive, lookups, limits, damage, several
// writers, failing writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

using namespace std::string_literals;

namespace {

constexpr const char kHive[] = "system/registry/HKLM.reg";
constexpr const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";

// A key handle closed at the end of the scope.
struct Key {
  PlatHKey h = nullptr;
  ~Key() {
    if (h) PlatRegCloseKey(h);
  }
};

// Replaces the hive from outside, as an editor or a copy would: a new file
// renamed over the old one.
void PutHive(const TempSystem& sys, const std::string& text) {
  sys.WriteFile("system/registry/HKLM.reg.tmp", text);
  std::filesystem::rename(sys.path("system/registry/HKLM.reg.tmp"), sys.path(kHive));
}

std::string Sz(const std::string& s) { return s + std::string(1, '\0'); }

std::string Dword(uint32_t v) {
  std::string d;
  for (int i = 0; i < 4; i++) d.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return d;
}

std::string Hex(const std::string& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

uint32_t Create(const char* path, Key* k) { return PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, path, &k->h); }

uint32_t Set(PlatHKey k, const char* name, uint32_t type, const std::string& data) {
  return PlatRegSetValue(k, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

// The data of a value of the key at `path`, or "<error N>".
std::string Get(const char* path, const char* name, uint32_t* type_out = nullptr) {
  Key k;
  uint32_t r = PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, path, PLAT_KEY_READ, &k.h);
  if (r != ERROR_SUCCESS) return "<error " + std::to_string(r) + ">";
  uint32_t size = 0, type = 0;
  r = PlatRegQueryValue(k.h, name, &type, nullptr, &size);
  if (r != ERROR_SUCCESS) return "<error " + std::to_string(r) + ">";
  std::string data(size, '\0');
  r = PlatRegQueryValue(k.h, name, &type, data.data(), &size);
  if (r != ERROR_SUCCESS) return "<error " + std::to_string(r) + ">";
  if (type_out) *type_out = type;
  return data;
}

// Names of the subkeys (or values) of the key at `path`, in order.
std::vector<std::string> Names(const char* path, bool values) {
  std::vector<std::string> out;
  Key k;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, path, PLAT_KEY_READ, &k.h) != ERROR_SUCCESS) return {"<missing>"};
  std::vector<char> name(16384);
  for (uint32_t i = 0;; i++) {
    uint32_t size = static_cast<uint32_t>(name.size());
    uint32_t r = values ? PlatRegEnumValue(k.h, i, name.data(), &size, nullptr, nullptr, nullptr)
                        : PlatRegEnumKey(k.h, i, name.data(), &size);
    if (r != ERROR_SUCCESS) break;
    out.emplace_back(name.data(), size);
  }
  return out;
}

// One value of the round-trip table.
struct ValueCase {
  std::string name; // value name ("" = default)
  uint32_t type;    // registry type
  std::string data; // bytes as a query returns them
};

std::vector<ValueCase> RoundTripValues() {
  std::string blob;
  for (int i = 0; i < 200; i++) blob.push_back(static_cast<char>(i));
  return {
      {"Plain", PLAT_REG_SZ, Sz("hello")},
      {"Quote \"q\" back\\slash", PLAT_REG_SZ, Sz("C:\\TQ\\\"x\"\\")},
      {"", PLAT_REG_SZ, Sz("default")},
      {"Count", PLAT_REG_DWORD, Dword(42)},
      {"Max", PLAT_REG_DWORD, Dword(0xFFFFFFFFu)},
      {"Blob", PLAT_REG_BINARY, blob},
      {"Empty", PLAT_REG_SZ, Sz("")},
      {"EmptyBin", PLAT_REG_BINARY, ""},
      {"Expand", PLAT_REG_EXPAND_SZ, Sz("%HOME_TQ%\\bin caf\xe9 \xff\x01")},
      {"Latin", PLAT_REG_SZ, Sz("caf\xe9 \x80\xff;[x]=\"@\"")},
      {"Lines", PLAT_REG_SZ, Sz("one\ntwo\r\nthree")},
      {"Multi", 7, "a\0bc\0\0"s},
      {"None", PLAT_REG_NONE, "\x01\x02"},
      {"Qword", 11, "\x01\0\0\0\0\0\0\x80"s},
      {"N\xe4me with = and ; ", PLAT_REG_SZ, Sz("x")},
  };
}

}  // namespace

// Writes every value named on the command line's key as "name|type|hex".
TQ_CHILD_ROLE(reg_dump) {
  Key k;
  if (PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, args.at(0).c_str(), PLAT_KEY_READ, &k.h) != ERROR_SUCCESS) return 2;
  FILE* out = std::fopen(args.at(1).c_str(), "w");
  if (!out) return 3;
  std::vector<char> name(16384);
  for (uint32_t i = 0;; i++) {
    uint32_t nsize = static_cast<uint32_t>(name.size()), type = 0, dsize = 0;
    if (PlatRegEnumValue(k.h, i, name.data(), &nsize, &type, nullptr, &dsize) != ERROR_SUCCESS) break;
    std::string data(dsize, '\0');
    nsize = static_cast<uint32_t>(name.size());
    if (PlatRegEnumValue(k.h, i, name.data(), &nsize, &type, data.data(), &dsize) != ERROR_SUCCESS) return 4;
    std::fprintf(out, "%s|%u|%s\n", Hex(std::string(name.data(), nsize)).c_str(), type, Hex(data).c_str());
  }
  std::fclose(out);
  return 0;
}

// Adds values args[1]0 .. args[1]N-1 (N = args[2]) to the key args[0] and
// a key of its own, each with its own write.
TQ_CHILD_ROLE(reg_writer) {
  const std::string& prefix = args.at(1);
  int count = std::stoi(args.at(2));
  Key own;
  if (Create((args.at(0) + "\\" + prefix).c_str(), &own) != ERROR_SUCCESS) return 2;
  for (int i = 0; i < count; i++) {
    Key k;
    if (Create(args.at(0).c_str(), &k) != ERROR_SUCCESS) return 3;
    std::string name = prefix + std::to_string(i);
    if (Set(k.h, name.c_str(), PLAT_REG_SZ, Sz("data-" + name)) != ERROR_SUCCESS) return 4;
  }
  return 0;
}

// Every kind of value survives the file: read back by another process, and
// the writer's text is exactly what reading and writing it again gives.
TEST(PlatformRegistry, ValuesRoundTripThroughTheHive) {
  TempSystem sys;
  const char* path = "SOFTWARE\\TQ Software\\RoundTrip";
  Key k;
  ASSERT_EQ(Create(path, &k), ERROR_SUCCESS);
  std::vector<ValueCase> cases = RoundTripValues();
  for (const ValueCase& c : cases) ASSERT_EQ(Set(k.h, c.name.c_str(), c.type, c.data), ERROR_SUCCESS) << c.name;

  std::string text = sys.ReadFile(kHive);
  for (const char* line : {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\RoundTrip]\n", "\"Plain\"=\"hello\"\n",
                           "\"Quote \\\"q\\\" back\\\\slash\"=\"C:\\\\TQ\\\\\\\"x\\\"\\\\\"\n", "@=\"default\"\n",
                           "\"Count\"=dword:0000002a\n", "\"Max\"=dword:ffffffff\n", "\"Empty\"=\"\"\n",
                           "\"EmptyBin\"=hex:\n", "\"None\"=hex(0):01,02\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(text.rfind(kHeader, 0), 0u);
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at++) {
    size_t start = text.rfind('\n', at - 1);
    EXPECT_LE(at - (start == std::string::npos ? 0 : start + 1), 80u) << "long line";
  }

  PlatRegNode tree;
  PlatRegParseResult res;
  PlatRegParse(text, true, &tree, &res);
  EXPECT_EQ(res.bad_line, 0);
  EXPECT_EQ(PlatRegFormat(tree, "HKEY_LOCAL_MACHINE"), text);

  std::string dump = sys.path("dump.txt");
  ASSERT_EQ(TqWaitChild(TqSpawnChild("reg_dump", {path, dump})), 0);
  std::string expected;
  for (const ValueCase& c : cases) expected += Hex(c.name) + "|" + std::to_string(c.type) + "|" + Hex(c.data) + "\n";
  EXPECT_EQ(sys.ReadFile("dump.txt"), expected);
}

// Text values end at their first zero byte and always carry a terminator.
TEST(PlatformRegistry, TextValuesAreCutAtTheirTerminator) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\T", &k), ERROR_SUCCESS);
  struct {
    uint32_t type;
    std::string given, stored;
  } cases[] = {
      {PLAT_REG_SZ, "abc", Sz("abc")},
      {PLAT_REG_SZ, "ab\0cd\0"s, Sz("ab")},
      {PLAT_REG_SZ, "", Sz("")},
      {PLAT_REG_EXPAND_SZ, "%X%\0\0"s, Sz("%X%")},
      {PLAT_REG_BINARY, "ab\0cd"s, "ab\0cd"s},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Set(k.h, "V", c.type, c.given), ERROR_SUCCESS);
    uint32_t type = 0;
    EXPECT_EQ(Get("SOFTWARE\\T", "V", &type), c.stored) << Hex(c.given);
    EXPECT_EQ(type, c.type);
  }
}

// Lookups ignore case; names keep the case they were first written with.
TEST(PlatformRegistry, LookupIgnoresCaseAndKeepsIt) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\TQ Software\\TQUpdate-Win64", &k), ERROR_SUCCESS);
  ASSERT_EQ(Set(k.h, "InstallDir", PLAT_REG_SZ, Sz("/opt/TQ")), ERROR_SUCCESS);
  ASSERT_EQ(Set(k.h, "installDIR", PLAT_REG_SZ, Sz("/opt/TQ2")), ERROR_SUCCESS);
  Key again;
  ASSERT_EQ(Create("software/tq software/TQUPDATE-WIN64", &again), ERROR_SUCCESS);
  EXPECT_EQ(Get("SOFTWARE\\tq SOFTWARE\\tqupdate-win64", "INSTALLDIR"), Sz("/opt/TQ2"));
  EXPECT_EQ(Names("SOFTWARE\\TQ Software", false), std::vector<std::string>{"TQUpdate-Win64"});
  EXPECT_EQ(Names("SOFTWARE\\TQ Software\\TQUpdate-Win64", true), std::vector<std::string>{"InstallDir"});
  // Letters beyond A-Z are compared as they are.
  ASSERT_EQ(Set(k.h, "\xe4", PLAT_REG_SZ, Sz("a")), ERROR_SUCCESS);
  EXPECT_EQ(Get("SOFTWARE\\TQ Software\\TQUpdate-Win64", "\xc4"), "<error 2>");
}

// Subkeys and values enumerate in the order of the file, new ones last.
TEST(PlatformRegistry, EnumerationFollowsTheFile) {
  TempSystem sys;
  PutHive(sys, std::string(kHeader) +
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\alpha]\r\n\"z\"=\"1\"\r\n\"a\"=\"2\"\r\n\"M\"=\"3\"\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mid]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ALPHA\\Inner]\n");
  EXPECT_EQ(Names("SOFTWARE", false), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(Names("SOFTWARE\\alpha", true), (std::vector<std::string>{"z", "a", "M"}));
  EXPECT_EQ(Names("SOFTWARE\\Alpha", false), std::vector<std::string>{"Inner"});
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\Beta", &k), ERROR_SUCCESS);
  Key a;
  ASSERT_EQ(Create("SOFTWARE\\alpha", &a), ERROR_SUCCESS);
  ASSERT_EQ(Set(a.h, "b", PLAT_REG_SZ, Sz("4")), ERROR_SUCCESS);
  EXPECT_EQ(Names("SOFTWARE", false), (std::vector<std::string>{"Zeta", "alpha", "Mid", "Beta"}));
  EXPECT_EQ(Names("SOFTWARE\\alpha", true), (std::vector<std::string>{"z", "a", "M", "b"}));
}

// Buffers too small give ERROR_MORE_DATA with the size needed; the end of
// an enumeration gives ERROR_NO_MORE_ITEMS.
TEST(PlatformRegistry, BufferSizesAndEnumerationEnd) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\B\\Sub12345", &k), ERROR_SUCCESS);  // name of 8
  Key b;
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\B", PLAT_KEY_ALL_ACCESS, &b.h), ERROR_SUCCESS);
  ASSERT_EQ(Set(b.h, "Name1234", PLAT_REG_SZ, Sz("0123456")), ERROR_SUCCESS);  // 8 bytes of data

  char buf[64];
  struct {
    uint32_t name_size, data_size;  // buffers offered
    uint32_t code;                  // result
    uint32_t name_out, data_out;    // sizes handed back
  } cases[] = {
      {9, 8, ERROR_SUCCESS, 8, 8},
      {8, 8, ERROR_MORE_DATA, 9, 8},
      {9, 7, ERROR_MORE_DATA, 8, 8},
      {64, 0, ERROR_MORE_DATA, 8, 8},
  };
  for (const auto& c : cases) {
    uint32_t ns = c.name_size, ds = c.data_size, type = 0;
    EXPECT_EQ(PlatRegEnumValue(b.h, 0, buf, &ns, &type, buf + 32, &ds), c.code) << c.name_size << " " << c.data_size;
    EXPECT_EQ(ns, c.name_out);
    EXPECT_EQ(ds, c.data_out);
    uint32_t ks = c.name_size;
    EXPECT_EQ(PlatRegEnumKey(b.h, 0, buf, &ks), c.name_size >= 9 ? ERROR_SUCCESS : ERROR_MORE_DATA);
    EXPECT_EQ(ks, c.name_size >= 9 ? 8u : 9u);
  }
  uint32_t ds = 4;
  EXPECT_EQ(PlatRegQueryValue(b.h, "name1234", nullptr, buf, &ds), ERROR_MORE_DATA);
  EXPECT_EQ(ds, 8u);
  ds = 0;
  EXPECT_EQ(PlatRegQueryValue(b.h, "name1234", nullptr, nullptr, &ds), ERROR_SUCCESS);
  EXPECT_EQ(ds, 8u);
  uint32_t ns = sizeof buf;
  EXPECT_EQ(PlatRegEnumValue(b.h, 1, buf, &ns, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  ns = sizeof buf;
  EXPECT_EQ(PlatRegEnumKey(b.h, 1, buf, &ns), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(PlatRegQueryValue(b.h, "", nullptr, nullptr, &ds), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PlatRegQueryValue(b.h, "missing", nullptr, nullptr, &ds), ERROR_FILE_NOT_FOUND);
}

// Deleting a tree takes everything below it; handles into it are dead.
TEST(PlatformRegistry, DeleteTreeAndDeadHandles) {
  TempSystem sys;
  Key deep, keep;
  ASSERT_EQ(Create("SOFTWARE\\TQ Software\\gone-win64\\Deeper\\Deepest", &deep), ERROR_SUCCESS);
  ASSERT_EQ(Set(deep.h, "V", PLAT_REG_SZ, Sz("x")), ERROR_SUCCESS);
  ASSERT_EQ(Create("SOFTWARE\\TQ Software\\kept-win64", &keep), ERROR_SUCCESS);
  Key mid;
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\TQ Software", PLAT_KEY_ALL_ACCESS, &mid.h),
            ERROR_SUCCESS);

  ASSERT_EQ(PlatRegDeleteTree(mid.h, "GONE-WIN64"), ERROR_SUCCESS);
  EXPECT_EQ(Names("SOFTWARE\\TQ Software", false), std::vector<std::string>{"kept-win64"});
  EXPECT_EQ(sys.ReadFile(kHive).find("gone-win64"), std::string::npos);
  char buf[64];
  uint32_t size = sizeof buf;
  EXPECT_EQ(PlatRegEnumValue(deep.h, 0, buf, &size, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(Set(deep.h, "V", PLAT_REG_SZ, Sz("y")), ERROR_KEY_DELETED);
  Key sub;
  EXPECT_EQ(PlatRegOpenKey(deep.h, "x", PLAT_KEY_READ, &sub.h), ERROR_KEY_DELETED);
  EXPECT_EQ(PlatRegCreateKey(deep.h, "x", &sub.h), ERROR_KEY_DELETED);
  EXPECT_EQ(PlatRegDeleteTree(mid.h, "gone-win64"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PlatRegDeleteTree(mid.h, "gone-win64\\Deeper"), ERROR_FILE_NOT_FOUND);

  // With no subkey: the key's content goes, the key stays.
  ASSERT_EQ(Set(keep.h, "A", PLAT_REG_SZ, Sz("1")), ERROR_SUCCESS);
  Key kid;
  ASSERT_EQ(PlatRegCreateKey(keep.h, "Kid", &kid.h), ERROR_SUCCESS);
  ASSERT_EQ(PlatRegDeleteTree(keep.h, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Names("SOFTWARE\\TQ Software\\kept-win64", true), std::vector<std::string>{});
  EXPECT_EQ(Names("SOFTWARE\\TQ Software\\kept-win64", false), std::vector<std::string>{});
  EXPECT_EQ(PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Names("SOFTWARE", false), std::vector<std::string>{"TQ Software"});
}

// Bad names, bad sizes, missing rights, an unwritable hive.
TEST(PlatformRegistry, LimitsRightsAndUnwritableHive) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\L", &k), ERROR_SUCCESS);
  std::string key255 = "SOFTWARE\\" + std::string(255, 'k');
  std::string key256 = "SOFTWARE\\" + std::string(256, 'k');
  std::string name16383(16383, 'n'), name16384(16384, 'n');
  Key k255, out;
  struct {
    const char* what;
    uint32_t got, want;
  } cases[] = {
      {"key 255", PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, key255.c_str(), &k255.h), ERROR_SUCCESS},
      {"key 256", PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, key256.c_str(), &out.h), ERROR_INVALID_PARAMETER},
      {"open 256", PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, key256.c_str(), PLAT_KEY_READ, &out.h),
       ERROR_INVALID_PARAMETER},
      {"control char", PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\a\nb", &out.h), ERROR_INVALID_PARAMETER},
      {"value 16383", Set(k.h, name16383.c_str(), PLAT_REG_SZ, Sz("x")), ERROR_SUCCESS},
      {"value 16384", Set(k.h, name16384.c_str(), PLAT_REG_SZ, Sz("x")), ERROR_INVALID_PARAMETER},
      {"value newline", Set(k.h, "a\nb", PLAT_REG_SZ, Sz("x")), ERROR_INVALID_PARAMETER},
      {"dword 3 bytes", Set(k.h, "D", PLAT_REG_DWORD, "abc"), ERROR_INVALID_PARAMETER},
      {"null data", PlatRegSetValue(k.h, "N", PLAT_REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER},
      {"null handle", PlatRegQueryValue(nullptr, "x", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE},
      {"missing key", PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\nope", PLAT_KEY_READ, &out.h),
       ERROR_FILE_NOT_FOUND},
      {"delete missing value", PlatRegDeleteValue(k.h, "nope"), ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(Get("SOFTWARE\\L", name16383.c_str()), Sz("x"));
  std::string deep;
  for (int i = 0; i < 600; i++) deep += "d\\";
  EXPECT_EQ(PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, deep.c_str(), &out.h), ERROR_INVALID_PARAMETER);

  Key ro, wo;
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\L", PLAT_KEY_READ, &ro.h), ERROR_SUCCESS);
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\L", PLAT_KEY_WRITE, &wo.h), ERROR_SUCCESS);
  EXPECT_EQ(Set(ro.h, "x", PLAT_REG_SZ, Sz("1")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(PlatRegDeleteValue(ro.h, name16383.c_str()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(PlatRegCreateKey(ro.h, "new", &out.h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(PlatRegQueryValue(wo.h, name16383.c_str(), nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Set(wo.h, "x", PLAT_REG_SZ, Sz("1")), ERROR_SUCCESS);

  // A machine-state root whose registry folder cannot exist: an empty hive
  // to readers, ERROR_ACCESS_DENIED to writers (root or not).
  TempSystem other;
  other.WriteFile("system/registry", "not a folder");
  EXPECT_EQ(Names("SOFTWARE", false), std::vector<std::string>{"<missing>"});
  EXPECT_EQ(PlatRegCreateKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &out.h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Set(wo.h, "y", PLAT_REG_SZ, Sz("1")), ERROR_ACCESS_DENIED);
}

// The hive stays below 64 MiB: a change that would pass it is refused, and
// a larger file is neither read nor replaced.
TEST(PlatformRegistry, HiveSizeIsBounded) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\Big", &k), ERROR_SUCCESS);
  const std::string old = sys.ReadFile(kHive);
  EXPECT_EQ(Set(k.h, "Blob", PLAT_REG_BINARY, std::string(22 << 20, 'x')), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sys.ReadFile(kHive), old);
  EXPECT_EQ(Get("SOFTWARE\\Big", "Blob"), "<error 2>");
  const uintmax_t big = (64u << 20) + 1;
  std::filesystem::resize_file(sys.path(kHive), big);
  EXPECT_EQ(Get("SOFTWARE\\Big", "Blob"), "<error " + std::to_string(ERROR_BADDB) + ">");
  EXPECT_EQ(Set(k.h, "x", PLAT_REG_SZ, Sz("1")), ERROR_BADDB);
  EXPECT_EQ(std::filesystem::file_size(sys.path(kHive)), big);
}

// Changes made to the file from outside are seen by the next call.
TEST(PlatformRegistry, OutsideChangesAreSeen) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\O", &k), ERROR_SUCCESS);
  ASSERT_EQ(Set(k.h, "V", PLAT_REG_SZ, Sz("one")), ERROR_SUCCESS);
  EXPECT_EQ(Get("SOFTWARE\\O", "V"), Sz("one"));
  PutHive(sys, std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\O]\n\"V\"=\"two\"\n");
  EXPECT_EQ(Get("SOFTWARE\\O", "V"), Sz("two"));
  // Written in place (a different size), as some editors do.
  sys.WriteFile(kHive, std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\O]\n\"V\"=\"three\"\n");
  EXPECT_EQ(Get("SOFTWARE\\O", "V"), Sz("three"));
  std::filesystem::remove(sys.path(kHive));
  EXPECT_EQ(Get("SOFTWARE\\O", "V"), "<error 2>");
  EXPECT_EQ(Set(k.h, "V", PLAT_REG_SZ, Sz("four")), ERROR_KEY_DELETED);
}

// A damaged hive never stops the reading: the damaged lines are skipped,
// everything else is read, and the next write keeps the damaged file aside.
TEST(PlatformRegistry, DamagedHiveIsReadAroundTheDamage) {
  const std::string before = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n\"Before\"=\"1\"\n";
  const std::string after = "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n\"After\"=\"2\"\n";
  std::string deep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 600; i++) deep += "\\d";
  deep += "]\n\"Lost\"=\"x\"\n";
  struct {
    const char* what;
    std::string damage;
    bool with_after;  // the good section after the damage is there
  } cases[] = {
      {"binary garbage", "\x00\x01\xff\xfe garbage\n\x7f\x80[\n"s, true},
      {"junk in a section", "\"Bad\"=\"unclosed\nnot a line at all\n\"Also\"=hex:0g,11\n\"Odd\"=hex:1,2\n"
                            "\"Long\"=dword:123456789\n\"Sp\"=\"a\" b\n\"Before\"\n", true},
      {"megabyte line", std::string(1 << 20, 'j') + "\n", true},
      {"key too long", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(300, 'k') + "]\n\"Lost\"=\"x\"\n", true},
      {"value name too long", "\"" + std::string(16384, 'n') + "\"=\"x\"\n", true},
      {"too deep", deep, true},
      {"other root", "[HKEY_CURRENT_USER\\SOFTWARE\\Good]\n\"Lost\"=\"x\"\n", true},
      {"bad headers", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\x]\n\"Lost\"=\"x\"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\a/b]\n"
                      "\"Lost\"=\"x\"\n[-HKEY_LOCAL_MACHINE]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good\n\"Lost\"=\"x\"\n",
       true},
      {"zero byte in text", "\"Lost\"=\"a\0b\"\n"s, true},
      {"hex cut by a header", "\"Lost\"=hex:01,\\", true},
      {"cut in a text", "\"Lost\"=\"abc", false},
      {"cut in hex", "\"Lost\"=hex:01,02,\\\n", false},
      {"cut in a header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Go", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempSystem sys;
    std::string text = before + c.damage + (c.with_after ? after : "");
    PutHive(sys, text);
    EXPECT_EQ(Get("SOFTWARE\\Good", "Before"), Sz("1"));
    std::vector<std::string> values = {"Before"};
    if (c.with_after) {
      EXPECT_EQ(Get("SOFTWARE\\Good", "After"), Sz("2"));
      values.push_back("After");
    }
    EXPECT_EQ(Names("SOFTWARE\\Good", true), values);
    EXPECT_EQ(Names("SOFTWARE", false), std::vector<std::string>{"Good"});
    EXPECT_EQ(Names("", false), std::vector<std::string>{"SOFTWARE"});

    Key k;
    ASSERT_EQ(Create("SOFTWARE\\Good", &k), ERROR_SUCCESS);
    ASSERT_EQ(Set(k.h, "New", PLAT_REG_SZ, Sz("3")), ERROR_SUCCESS);
    EXPECT_EQ(sys.ReadFile("system/registry/HKLM.reg.bad"), text);
    PlatRegNode tree;
    PlatRegParseResult res;
    PlatRegParse(sys.ReadFile(kHive), true, &tree, &res);
    EXPECT_EQ(res.bad_line, 0);
    values.push_back("New");
    EXPECT_EQ(Names("SOFTWARE\\Good", true), values);
  }
}

// Every prefix of a hive (a file cut anywhere) reads without harm, and every
// value whose lines are complete in it is read whole.
TEST(PlatformRegistry, EveryCutOfAHiveReads) {
  PlatRegNode full;
  full.name = "HKEY_LOCAL_MACHINE";
  PlatRegNode* key = &full;
  for (const char* comp : {"SOFTWARE", "TQ Software", "cut-win64"}) {
    key->keys.push_back(std::make_unique<PlatRegNode>());
    key = key->keys.back().get();
    key->name = comp;
  }
  std::vector<ValueCase> values = RoundTripValues();
  for (const ValueCase& v : values) PlatRegPutValue(key, v.name, v.type, v.data);
  std::string text = PlatRegFormat(full, "HKEY_LOCAL_MACHINE");

  for (size_t cut = 0; cut <= text.size(); cut++) {
    PlatRegNode tree;
    PlatRegParseResult res;
    PlatRegParse(text.substr(0, cut), false, &tree, &res);
    PlatRegNode* k = PlatRegFindKey(&tree, "SOFTWARE");
    k = k ? PlatRegFindKey(k, "TQ Software") : nullptr;
    k = k ? PlatRegFindKey(k, "cut-win64") : nullptr;
    size_t pos = text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ Software\\cut-win64]");
    for (const ValueCase& v : values) {
      size_t start = text.find('\n', pos) + 1;  // each value line in turn
      size_t end = start;
      while ((end = text.find('\n', end)) != std::string::npos && text[end - 1] == '\\') end++;
      pos = end;
      if (end >= cut) continue;  // not complete in this cut
      ASSERT_NE(k, nullptr) << cut;
      int i = PlatRegFindValue(k, v.name);
      ASSERT_GE(i, 0) << cut << " " << v.name;
      EXPECT_EQ(k->values[static_cast<size_t>(i)].data, v.data) << cut << " " << v.name;
    }
  }
}

// Several processes writing at once lose nothing, and a reader meanwhile
// always sees a whole hive.
TEST(PlatformRegistry, ConcurrentWritersLoseNothing) {
  TempSystem sys;
  const char* path = "SOFTWARE\\TQ Software\\Shared";
  const int kWriters = 4, kEach = 25;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; w++)
    pids.push_back(TqSpawnChild("reg_writer", {path, "w" + std::to_string(w) + "-", std::to_string(kEach)}));
  // Read all the while the writers run.
  size_t seen = 0;
  while (!pids.empty()) {
    std::vector<std::string> names = Names(path, true);
    if (names != std::vector<std::string>{"<missing>"}) {
      EXPECT_GE(names.size(), seen);
      seen = names.size();
      for (const std::string& n : names) EXPECT_EQ(Get(path, n.c_str()), Sz("data-" + n));
    }
    for (size_t i = 0; i < pids.size();) {
      int status = 0;
      if (::waitpid(pids[i], &status, WNOHANG) == pids[i]) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        pids.erase(pids.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        i++;
      }
    }
  }
  std::vector<std::string> names = Names(path, true);
  EXPECT_EQ(names.size(), static_cast<size_t>(kWriters * kEach));
  for (int w = 0; w < kWriters; w++)
    for (int i = 0; i < kEach; i++) {
      std::string n = "w" + std::to_string(w) + "-" + std::to_string(i);
      EXPECT_EQ(Get(path, n.c_str()), Sz("data-" + n));
    }
  EXPECT_EQ(Names(path, false).size(), static_cast<size_t>(kWriters));
}

// A write that fails at any of its system calls leaves the old hive whole
// and readable, with no temporary file left; the first write that gets
// through is complete.
TEST(PlatformRegistry, FailingWritesKeepTheOldHive) {
  TempSystem sys;
  struct Op {
    const char* what;
    uint32_t (*run)();
    const char* check_value;  // value under SOFTWARE\F after the op ("" = the key is gone)
  } ops[] = {
      {"set", [] {
         Key k;
         uint32_t r = PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\F", PLAT_KEY_ALL_ACCESS, &k.h);
         return r ? r : Set(k.h, "Version", PLAT_REG_SZ, Sz("2.0"));
       }, "2.0"},
      {"import", [] {
         int bad = 0;
         return PlatRegImport(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\F]\n\"Version\"=\"3.0\"\n", &bad);
       }, "3.0"},
      {"delete", [] { return PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\F"); }, ""},
  };
  for (const Op& op : ops) {
    for (PlatSyscall kind : {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME}) {
      PlatFaultClear();
      Key k;
      ASSERT_EQ(Create("SOFTWARE\\F", &k), ERROR_SUCCESS);
      ASSERT_EQ(Set(k.h, "Version", PLAT_REG_SZ, Sz("1.0")), ERROR_SUCCESS);
      const std::string old = sys.ReadFile(kHive);
      for (int n = 1;; n++) {
        SCOPED_TRACE(std::string(op.what) + " fault " + std::to_string(kind) + " at call " + std::to_string(n));
        ASSERT_LT(n, 20);
        PlatFaultClear();
        PlatFaultInject(kind, n, n % 2 ? ENOSPC : EIO, false);
        uint32_t r = op.run();
        PlatFaultClear();
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(sys.path("system/registry")))
          files.push_back(e.path().filename().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{"HKLM.lock", "HKLM.reg"}));
        if (r == ERROR_SUCCESS) {
          std::string want = *op.check_value ? Sz(op.check_value) : "<error 2>";
          EXPECT_EQ(Get("SOFTWARE\\F", "Version"), want);
          break;
        }
        EXPECT_EQ(r, ERROR_ACCESS_DENIED);
        EXPECT_EQ(sys.ReadFile(kHive), old);
        EXPECT_EQ(Get("SOFTWARE\\F", "Version"), Sz("1.0"));
      }
    }
  }
}

// An imported script is applied whole or not at all; deletions in it work;
// an export imports back to the same keys.
TEST(PlatformRegistry, ImportIsAllOrNothingAndExportImportsBack) {
  TempSystem sys;
  Key k;
  ASSERT_EQ(Create("SOFTWARE\\Imp\\Old", &k), ERROR_SUCCESS);
  ASSERT_EQ(Set(k.h, "Stale", PLAT_REG_SZ, Sz("x")), ERROR_SUCCESS);
  ASSERT_EQ(Set(k.h, "Kept", PLAT_REG_SZ, Sz("y")), ERROR_SUCCESS);
  const std::string good = std::string(kHeader) +
                           "; a comment\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\New]\n\"A\"=\"1\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Old]\n\"Stale\"=-\n\n"
                           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Gone]\n";
  struct {
    std::string script;
    int bad_line;
  } bad[] = {
      {good + "\"Loose\"=junk\n", 11},
      {good + "[HKEY_CURRENT_USER\\Software\\X]\n", 11},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\New]\n", 1},
      {"", 1},
      {"REGEDIT4\n\n\"NoKey\"=\"1\"\n", 3},
  };
  const std::string before = sys.ReadFile(kHive);
  for (const auto& b : bad) {
    int line = -1;
    EXPECT_EQ(PlatRegImport(b.script, &line), ERROR_INVALID_DATA) << b.script;
    EXPECT_EQ(line, b.bad_line) << b.script;
    EXPECT_EQ(sys.ReadFile(kHive), before);
  }
  int line = -1;
  ASSERT_EQ(PlatRegImport(good, &line), ERROR_SUCCESS);
  EXPECT_EQ(Names("SOFTWARE\\Imp", false), (std::vector<std::string>{"Old", "New"}));
  EXPECT_EQ(Names("SOFTWARE\\Imp\\Old", true), std::vector<std::string>{"Kept"});

  // A UTF-16LE script, as other tools save them.
  std::string ascii = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Wide]\r\n\"W\"=\"caf\xe9\"\r\n";
  std::string wide = "\xff\xfe";
  for (char c : ascii) wide += std::string(1, c) + std::string(1, '\0');
  ASSERT_EQ(PlatRegImport(wide, &line), ERROR_SUCCESS);
  EXPECT_EQ(Get("SOFTWARE\\Imp\\Wide", "W"), Sz("caf\xe9"));

  Key imp;
  ASSERT_EQ(PlatRegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "software\\imp", PLAT_KEY_READ, &imp.h), ERROR_SUCCESS);
  std::string script;
  ASSERT_EQ(PlatRegExport(imp.h, &script), ERROR_SUCCESS);
  EXPECT_EQ(script.rfind(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp]\n", 0), 0u) << script;
  const std::string all = sys.ReadFile(kHive);
  ASSERT_EQ(PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp"), ERROR_SUCCESS);
  ASSERT_EQ(PlatRegImport(script, &line), ERROR_SUCCESS);
  EXPECT_EQ(sys.ReadFile(kHive), all);
}
