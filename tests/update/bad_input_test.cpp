// Hostile and damaged repository input end to end: install file names with
// ".." and both separators, an overlong signature line, and update scripts
// with thousands of entries and binary bytes. The service must neither
// crash nor write outside its work directory, and its messages stay lines
// of sane length.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

// The entry of the demo package with the given install and signature file
// (as written in the script, "{src}" for the repository).
std::string DemoEntry(const std::string& install_file, const std::string& signature_file) {
  return "Update\n    Name tqdemo-win64\n    Desc 'Demo program'\n    InstallFile " + install_file +
         "\n    SignatureFile " + signature_file + "\n";
}

const char kSig[] = "{src}pkgs/tqdemo-win64.sig";

// `n` bytes of every value 0-255 in a fixed pseudo-random order, with a
// line break now and then and one line far longer than the reader's
// buffer.
std::string Binary(size_t n, uint32_t seed) {
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    unsigned char c = static_cast<unsigned char>(x >> 16);
    s += static_cast<char>(c);
    if (s.size() % 97 == 0 && s.size() < n / 2) s += '\n';
  }
  return s + "\n";
}

// Many entries that are all dropped: products not installed under
// "Verify Installed=True", and copies of an earlier name.
std::string ManyEntries(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i % 2 == 0) {
      s += "Update\n    Name tqbulk" + std::to_string(i) + "-win64\n    InstallFile {src}pkgs/bulk" +
           std::to_string(i) + ".msi\n    SignatureFile {src}pkgs/bulk.sig\n    Verify Installed=True\n";
    } else {
      s += DemoEntry("{src}pkgs/dup" + std::to_string(i) + ".msi", kSig);
    }
  }
  return s;
}

}  // namespace

TEST(UpdateBadInput, HostileNamesAndDamagedFiles) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  const struct {
    const char* what;
    Transport transport;
    std::function<std::string()> script; // the script's text
    bool long_signature;                 // the published signature is a 5,000-character line
    bool installed;                      // the demo package ends up installed
    const char* message;                 // a message the run must log ("" for none)
  } cases[] = {
      {"dot-dot over http", Transport::kHttp,
       [] { return DemoEntry("{src}pkgs/sub/../../pkgs/tqdemo-win64.msi", kSig); }, false, true,
       "Downloaded and Verified: tqdemo-win64.msi - OK"},
      {"dot-dot over LocalShare", Transport::kLocalShare,
       [] { return DemoEntry("{src}pkgs/sub/../../pkgs/tqdemo-win64.msi", kSig); }, false, true,
       "Downloaded and Verified: tqdemo-win64.msi - OK"},
      {"backslashes over http", Transport::kHttp,
       [] { return DemoEntry("{src}pkgs\\sub\\..\\..\\pkgs\\tqdemo-win64.msi", kSig); }, false, true,
       "Downloaded and Verified: tqdemo-win64.msi - OK"},
      {"backslashes over LocalShare", Transport::kLocalShare,
       [] { return DemoEntry("{src}pkgs\\sub\\..\\..\\pkgs\\tqdemo-win64.msi", kSig); }, false, true,
       "Downloaded and Verified: tqdemo-win64.msi - OK"},
      // No file name part at all: nothing is fetched.
      {"ends in dot-dot", Transport::kLocalShare, [] { return DemoEntry("{src}pkgs/sub/..", kSig); }, false, false,
       ""},
      {"5,000-character signature", Transport::kHttp,
       [] { return DemoEntry("{src}pkgs/tqdemo-win64.msi", kSig); }, true, false,
       "Signature Verify Failed on: tqdemo-win64.msi"},
      {"thousands of entries", Transport::kLocalShare,
       [] { return DemoEntry("{src}pkgs/tqdemo-win64.msi", kSig) + ManyEntries(4000); }, false, true,
       "Installed: tqdemo-win64 - Version: 1.2.3-00 - OK"},
      {"binary bytes", Transport::kHttp,
       [] {
         // Bytes before the first entry, inside it, and in a second entry
         // of the same name (dropped as a duplicate).
         return Binary(40000, 7) + DemoEntry("{src}pkgs/tqdemo-win64.msi", kSig) + Binary(3000, 11) +
                "\nUpdate\n    Name tqdemo-win64\n" + Binary(20000, 13) + std::string(100000, 'x') + "\n";
       },
       false, true, "Installed: tqdemo-win64 - Version: 1.2.3-00 - OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(c.transport));
    std::filesystem::create_directories(u.Repo("pkgs/sub"));
    ASSERT_TRUE(u.Publish(Product("tqdemo-win64", "1.2.300", "demo.txt"), "pkgs/tqdemo-win64.msi"));
    if (c.long_signature) httpt::WriteAll(u.Repo("pkgs/tqdemo-win64.sig"), std::string(5000, 'A') + "\n");
    u.WriteScript(c.script());
    u.Configure("Automatic");
    std::string out;
    ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log().substr(0, 20000);
    EXPECT_EQ(u.CountText("TQUpdateD64 - Stopped"), 1);
    if (*c.message) {
      EXPECT_EQ(u.CountText(c.message), 1) << u.Log().substr(0, 20000);
    }

    // Installed or not, and at most once.
    EXPECT_EQ(u.RegValue("tqdemo-win64", "Version"), c.installed ? "1.2.300" : "");
    EXPECT_EQ(u.CountPrefix("MsiInstallProduct(/"), c.installed ? 1 : 0);
    if (c.installed) {
      EXPECT_EQ(u.WithPrefix("\t").size(), 1u);
    }

    // The package exists only in the repository and, when fetched and
    // verified, under its last name part in the work directory (a download
    // that failed its verification is deleted).
    std::vector<std::string> copies = {"repo/pkgs/tqdemo-win64.msi"};
    if (c.installed) copies.insert(copies.begin(), "home-tq/TQUpdate/Work/tqdemo-win64.msi");
    EXPECT_EQ(u.FilesEndingIn("tqdemo-win64.msi"), copies);
    EXPECT_TRUE(u.FilesEndingIn("sig.txt").empty());
    EXPECT_TRUE(u.FilesEndingIn("updscript.txt") == std::vector<std::string>{"repo/updscript.txt"});

    // Every message holds at most 1,023 characters (the HTTP client's
    // request message spans lines: continuation lines count with it).
    for (const std::string& t : u.Texts()) EXPECT_LE(t.size(), 1023u) << t.substr(0, 200);
  }
}
