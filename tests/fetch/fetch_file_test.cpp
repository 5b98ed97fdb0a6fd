// UpdFetchFile: the name normalisation, the protocol dispatch, and the
// LocalShare copy with its messages, including a destination that cannot be
// deleted and failures injected at every file operation of the copy.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/config.h"
#include "fetch/fetch_file.h"
#include "platform/fault.h"
#include "runtime/alloc.h"
#include "tests/fetch/fetch_test_util.h"

namespace {

using Texts = std::vector<std::string>;

std::string Normalized(const char* in) {
  char out[kUpdNameSize];
  UpdNormalizeName(in, out);
  return out;
}

TEST(NormalizeName, Table) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"pkg.msi", "pkg.msi"},
      {"a\\b\\c.msi", "a/b/c.msi"},
      {"dir//file", "dir/file"},
      {"dir///file", "dir/file"},
      {"ab//c", "ab/c"},        // the second "/" stands at position 3
      {"a//b", "a//b"},         // ... here at position 2: kept
      {"/a//b", "/a/b"},
      {"//server/share//x", "//server/share/x"},
      {"\\\\server\\share\\\\x", "//server/share/x"},
      {"///x", "///x"},         // the first three characters are never dropped
      {"http://host//path//f", "http://host/path/f"},
      {"HTTP://host/a", "HTTP://host/a"},
      {"https://host//a", "https://host/a"},
      {"HtTpS://h\\\\a", "HtTpS://h/a"},
      {"file:///srv//pkg", "file://srv/pkg"}, // only the first doubled "/" of a URL stays
      {"ftp://h//a", "ftp://h/a"},
      {"gopher://h//a", "gopher://h/a"},
      {"TELNET://h//a", "TELNET://h/a"},
      {"news://h//a", "news://h/a"},
      {"wais://h//a", "wais://h/a"},
      {"http://", "http://"},   // a name that is only a prefix is a URL too
      {"mailto://h//a", "mailto:/h/a"}, // not a URL: its "//" collapses
      {"ftp:/x//y", "ftp:/x/y"},
  };
  for (const auto& c : cases) EXPECT_EQ(Normalized(c.in), c.out) << c.in;
  EXPECT_EQ(Normalized(nullptr), "");
}

TEST(NormalizeName, CutTo260BeforeNormalising) {
  std::string long_name(300, 'a');
  EXPECT_EQ(Normalized(long_name.c_str()), std::string(260, 'a'));
  // The cut comes first: the doubled separator at 258-259 is inside the cut,
  // the "bb" after it is not.
  std::string edge = std::string(258, 'a') + "\\\\bb";
  EXPECT_EQ(Normalized(edge.c_str()), std::string(258, 'a') + "/");
  // Exactly 260 characters stay whole.
  std::string exact = std::string(259, 'b') + "c";
  EXPECT_EQ(Normalized(exact.c_str()), exact);
}

class LocalShare : public testing::Test {
 protected:
  FetchSystem fs_;
};

TEST_F(LocalShare, ReplacesAnExistingDestination) {
  fs_.WriteServer("pkg.msi", "new content");
  fs_.WriteWork("pkg.msi", "old content that was longer");
  EXPECT_EQ(UpdFetchFile(fs_.Server("pkg.msi").c_str(), "pkg.msi"), 0);
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "new content");
  EXPECT_EQ(fs_.Texts(), Texts{});
}

TEST_F(LocalShare, SourceNameIsNormalisedBeforeTheCopy) {
  fs_.WriteServer("sub/pkg.msi", "x");
  std::string source = fs_.Server("") + "\\sub\\\\pkg.msi";
  EXPECT_EQ(UpdFetchFile(source.c_str(), "dir//..//pkg.msi"), -1);  // "dir" is missing
  EXPECT_EQ(fs_.Texts(), Texts{"Error: 3 Copying file: " + fs_.Server("sub/pkg.msi") + " to dir/../pkg.msi"});
  EXPECT_EQ(UpdFetchFile(source.c_str(), ".\\\\pkg.msi"), 0);
  EXPECT_EQ(fs_.ReadWork("pkg.msi"), "x");
}

TEST_F(LocalShare, MissingDestinationDirectory) {
  fs_.WriteServer("pkg.msi", "x");
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdFetchFile(fs_.Server("pkg.msi").c_str(), "nodir/pkg.msi"), -1); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{
                        {9, "Error: 3 Copying file: " + fs_.Server("pkg.msi") + " to nodir/pkg.msi"}}));
  EXPECT_FALSE(fs_.InWork("nodir"));
}

TEST_F(LocalShare, MissingSourceLeavesNoDestination) {
  fs_.WriteWork("pkg.msi", "old");
  EXPECT_EQ(UpdFetchFile(fs_.Server("none.msi").c_str(), "pkg.msi"), -1);
  EXPECT_EQ(fs_.Texts(), Texts{"Error: 2 Copying file: " + fs_.Server("none.msi") + " to pkg.msi"});
  EXPECT_EQ(fs_.WorkNames(), std::vector<std::string>{});
}

TEST_F(LocalShare, DestinationThatCannotBeDeleted) {
  // A directory of the destination's name cannot be deleted as a file, even
  // by root; nothing is copied into or over it.
  fs_.WriteServer("pkg.msi", "x");
  fs_.WriteWork("pkg.msi/inside", "kept");
  auto levels = fs_.engine().Levels([&] { EXPECT_EQ(UpdFetchFile(fs_.Server("pkg.msi").c_str(), "pkg.msi"), -1); });
  EXPECT_EQ(levels, (std::vector<CapturedMessage>{{9, "Error: 5 deleting file: pkg.msi"}}));
  EXPECT_EQ(fs_.ReadWork("pkg.msi/inside"), "kept");
  EXPECT_EQ(fs_.WorkNames(), std::vector<std::string>{"pkg.msi"});
}

TEST_F(LocalShare, ProtocolDispatch) {
  fs_.WriteServer("pkg.msi", "x");
  const std::string src = fs_.Server("pkg.msi");
  // No transport: -1 without a message, and nothing touched.
  for (uint16_t protocol : {uint16_t{UPD_PROTO_NONE}, uint16_t{5}, uint16_t{0xffff}}) {
    fs_.WriteWork("dst", "old");
    g_upd_fetch.protocol = protocol;
    EXPECT_EQ(UpdFetchFile(src.c_str(), "dst"), -1) << protocol;
    EXPECT_EQ(fs_.Texts(), Texts{}) << protocol;
    EXPECT_EQ(fs_.ReadWork("dst"), "old");
  }
  // tqfs: no remote connection yet; a failed fetch leaves no local file.
  g_upd_fetch.protocol = UPD_PROTO_TQFS;
  EXPECT_EQ(UpdFetchFile(src.c_str(), "dst"), -1);
  EXPECT_EQ(fs_.Texts(), Texts{"Failed to OpenRemote Connection to: update-server"});
  EXPECT_FALSE(fs_.InWork("dst"));
  // HTTP and HTTPS against a port where nothing listens fail and leave no file.
  g_upd_fetch.server = "127.0.0.1:1";
  for (uint16_t protocol : {uint16_t{UPD_PROTO_HTTP}, uint16_t{UPD_PROTO_HTTPS}}) {
    g_upd_fetch.protocol = protocol;
    EXPECT_EQ(UpdFetchFile("/pkg.msi", "dst"), -1) << protocol;
    EXPECT_FALSE(fs_.InWork("dst")) << protocol;
  }
  fs_.Texts();
  // Without a configuration nothing can be fetched.
  UpdFreeConfig();
  EXPECT_EQ(UpdFetchFile(src.c_str(), "dst"), -1);
  EXPECT_EQ(fs_.Texts(), Texts{});
}

// Every open, write, rename and unlink of the copy failing in turn: the
// destination is afterwards the complete new file, the old one, or absent,
// never a part, and no temporary file is left in the work directory.
TEST_F(LocalShare, InjectedFaultsNeverLeaveAPartialFile) {
  std::string fresh(200000, '\0');
  for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<char>('a' + i % 23);
  const std::string old = "the old package";
  fs_.WriteServer("pkg.msi", fresh);
  const struct {
    PlatSyscall which;
    const char* name;
  } kinds[] = {{PLAT_SYS_OPEN, "open"}, {PLAT_SYS_WRITE, "write"}, {PLAT_SYS_RENAME, "rename"},
               {PLAT_SYS_UNLINK, "unlink"}};
  int failures = 0;
  for (const auto& k : kinds) {
    for (int nth = 1; nth <= 5; ++nth) {
      fs_.WriteWork("pkg.msi", old);
      PlatFaultClear();
      PlatFaultInject(k.which, nth, EIO, false);
      int r = UpdFetchFile(fs_.Server("pkg.msi").c_str(), "pkg.msi");
      PlatFaultClear();
      SCOPED_TRACE(std::string(k.name) + " #" + std::to_string(nth));
      std::vector<std::string> names = fs_.WorkNames();
      if (r == 0) {
        EXPECT_EQ(fs_.ReadWork("pkg.msi"), fresh);
      } else {
        ++failures;
        if (fs_.InWork("pkg.msi")) {
          EXPECT_EQ(fs_.ReadWork("pkg.msi"), old);
        }
      }
      EXPECT_TRUE(names.empty() || names == std::vector<std::string>{"pkg.msi"}) << names.size();
      fs_.Texts();
    }
  }
  // The faults did reach the copy: the source open, the temporary's open,
  // its writes, the rename and the delete each failed it once at least.
  EXPECT_GE(failures, 6);
}

}  // namespace
