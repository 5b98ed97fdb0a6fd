// The signed script metadata end to end: the real tqupdd fetches a
// repository served by python3 -m http.server (or read as a LocalShare
// directory) whose metadata tqupdpub sign-script made, and each attack of a
// hostile source is run under ScriptSignature Off, Verify and Require.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdlib.h>
#include <string>
#include <vector>

#include "tests/fetch/fetch_test_util.h"
#include "tests/update/update_test_util.h"

using updt::Product;
using updt::Transport;
using updt::UpdateSystem;

namespace {

const char* const kModes[] = {"Off", "Verify", "Require"};

// The product every case updates, and a second one whose package is swapped in.
const char kDemo[] = "tqdemo-win64";
const char kTool[] = "tqtool-win64";

// The script entry of a package published at pkgs/<name>.msi.
std::string Entry(const std::string& name, const std::string& desc = "Demo program") {
  return "Update\n    Name " + name + "\n    Desc '" + desc + "'\n    InstallFile {src}pkgs/" + name +
         ".msi\n    SignatureFile {src}pkgs/" + name + ".sig\n";
}

// Packages built once per test program: (name and version) -> path.
std::map<std::string, std::string>& BuiltPackages() {
  static std::map<std::string, std::string> built;
  return built;
}

// Builds (once) the package of `name` at `version` and puts it into the
// repository at `file` with its signature beside it.
bool PublishPackage(UpdateSystem& u, const std::string& name, const std::string& version, const std::string& extra,
                    const std::string& file) {
  // A directory of its own (not a relocated system: that would change the
  // process's environment), removed when the program ends.
  static struct Cache {
    std::string dir;
    Cache() {
      char tmpl[] = "/tmp/tqtest-pkgs-XXXXXX";
      dir = ::mkdtemp(tmpl) ? tmpl : "";
    }
    ~Cache() {
      std::error_code ec;
      if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
  } cache;
  std::string& path = BuiltPackages()[name + " " + version];
  if (path.empty() || !UpdateSystem::Exists(path)) {
    std::string built = u.Build(Product(name, version, extra));
    if (built.empty()) return false;
    path = cache.path(name + "-" + version + ".msi");
    std::filesystem::copy_file(built, path, std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::path to = u.Repo(file);
  std::filesystem::create_directories(to.parent_path());
  std::filesystem::copy_file(path, to, std::filesystem::copy_options::overwrite_existing);
  std::string sig = u.Sign(to.string());
  if (sig.empty()) return false;
  std::string sig_file = to.string();
  sig_file.replace(sig_file.size() - 4, 4, ".sig");
  httpt::WriteAll(sig_file, sig + "\n");
  return true;
}

// Runs a command; its standard error on failure.
std::string Run(const std::string& command) {
  std::string out, err;
  int rc = RunSplit(command, &out, &err);
  return rc == 0 ? std::string() : "exit " + std::to_string(rc) + ": " + err;
}

// One publication step of the repository.
class Publisher {
 public:
  explicit Publisher(UpdateSystem& u) : u_(u) {}

  // Publishes `name` at `version` with a script naming it, and its metadata
  // signed with `key` (default: the development key).
  void Publish(const std::string& name, const std::string& version, uint64_t serial,
               const std::string& expires = "2099-01-01", const std::string& extra = "",
               const std::string& key = "") {
    ASSERT_TRUE(PublishPackage(u_, name, version, "demo.txt", "pkgs/" + name + ".msi"));
    u_.WriteScript(Entry(name));
    Sign(serial, expires, extra, key);
  }

  // Signs the repository's script as it stands.
  void Sign(uint64_t serial, const std::string& expires = "2099-01-01", const std::string& extra = "",
            const std::string& key = "") {
    std::string command = updt::kTqupdpub + " sign-script --key " + Quoted(key.empty() ? DevPrivateKey() : key) +
                          " --serial " + std::to_string(serial) + " --expires " + expires + " --dir " +
                          Quoted(u_.Repo("pkgs")) + " --force " + extra + " " + Quoted(u_.Repo("updscript.txt"));
    ASSERT_EQ(Run(command), "");
  }

  // Keeps the repository as it is under `label`, or puts it back.
  void Keep(const std::string& label) { Copy(u_.Repo(""), u_.sys().path("kept-" + label)); }
  void Restore(const std::string& label) {
    std::filesystem::remove_all(u_.Repo(""));
    Copy(u_.sys().path("kept-" + label), u_.Repo(""));
  }

 private:
  static void Copy(const std::string& from, const std::string& to) {
    std::filesystem::remove_all(to);
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
  }
  UpdateSystem& u_;
};

// One attack: the repository it leaves (after any earlier run it needs) and
// what each mode must show.
struct Attack {
  const char* what;
  std::function<void(UpdateSystem&, Publisher&, const std::string& mode)> prepare;
  const char* off_line;      // a message part under Off
  const char* off_version;   // the demo product's version after the run under Off ("" = not installed)
  const char* trust_line;    // the message part under Verify and Require
  const char* trust_version; // the version after the run under Verify and Require
};

// A first run that installs what the repository holds.
void FirstRun(UpdateSystem& u) {
  std::string out;
  ASSERT_EQ(u.Run("--fg", &out), 0) << out << u.Log();
  ASSERT_EQ(u.CountPart("Install End ret: 0"), 1) << u.Log();
  u.ClearLog();
}

const Attack kAttacks[] = {
    {"older script and metadata replayed",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.1.0", 5);
       p.Keep("old");
       p.Publish(kDemo, "1.2.0", 6);
       FirstRun(u);
       p.Restore("old");
     },
     "Installed: tqdemo-win64 - Version: 1.1.0-00 - OK", "1.1.0", "below the accepted 6 (rollback)", "1.2.0"},
    {"expired metadata",
     [](UpdateSystem&, Publisher& p, const std::string&) { p.Publish(kDemo, "1.2.0", 5, "2020-01-01"); },
     "Installed: tqdemo-win64 - Version: 1.2.0-00 - OK", "1.2.0", "Script metadata expired (freeze)", ""},
    {"script changed after signing",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       u.WriteScript(Entry(kDemo, "Changed program"));  // with a fresh md.txt
     },
     "Installed: tqdemo-win64 - Version: 1.2.0-00 - OK", "1.2.0", "Script does not match its metadata", ""},
    {"package swapped for another product's signed package",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       ASSERT_TRUE(PublishPackage(u, kTool, "3.0.0", "tool.txt", "pkgs/tqdemo-win64.msi"));
     },
     "Downloaded and Verified: tqdemo-win64.msi - OK", "", "Package does not match the script metadata", ""},
    {"older release's package listed in a newer script",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       ASSERT_TRUE(PublishPackage(u, kDemo, "1.1.0", "demo.txt", "pkgs/tqdemo-win64.msi"));
     },
     "Installed: tqdemo-win64 - Version: 1.1.0-00 - OK", "1.1.0", "Package does not match the script metadata", ""},
    {"package longer than listed",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       std::string pkg = httpt::ReadAll(u.Repo("pkgs/tqdemo-win64.msi"));
       httpt::WriteAll(u.Repo("pkgs/tqdemo-win64.msi"), pkg + std::string(100000, 'x'));
     },
     "Signature Verify Failed on: tqdemo-win64.msi", "", "Size Cap Reached", ""},
    {"metadata signed with another key",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       std::string key = u.sys().path("other-private.pem");
       ASSERT_EQ(Run(updt::kTqupdpub + " keygen --bits 2048 " + Quoted(key) + " " +
                     Quoted(u.sys().path("other-public.pem"))),
                 "");
       p.Publish(kDemo, "1.2.0", 5, "2099-01-01", "", key);
     },
     "Installed: tqdemo-win64 - Version: 1.2.0-00 - OK", "1.2.0", "Script metadata signature not valid", ""},
    {"package signature presented as the metadata signature",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       std::string meta = httpt::ReadAll(u.Repo("updscript.sig"));
       std::string sig = httpt::ReadAll(u.Repo("pkgs/tqdemo-win64.sig"));
       meta = meta.substr(0, meta.find("Signature ")) + "Signature " + sig;
       httpt::WriteAll(u.Repo("updscript.sig"), meta);
     },
     "Installed: tqdemo-win64 - Version: 1.2.0-00 - OK", "1.2.0", "Script metadata signature not valid", ""},
    {"downgrade not marked",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       FirstRun(u);
       p.Publish(kDemo, "1.1.0", 6);
     },
     "Installed: tqdemo-win64 - Version: 1.1.0-00 - OK", "1.1.0",
     "Downgrade refused: tqdemo-win64 - package version 1.1.0-00 below installed 1.2.0-00", "1.2.0"},
    {"downgrade marked",
     [](UpdateSystem& u, Publisher& p, const std::string&) {
       p.Publish(kDemo, "1.2.0", 5);
       FirstRun(u);
       p.Publish(kDemo, "1.1.0", 6, "2099-01-01", "--downgrade tqdemo-win64");
     },
     "Installed: tqdemo-win64 - Version: 1.1.0-00 - OK", "1.1.0", "Installed: tqdemo-win64 - Version: 1.1.0-00 - OK",
     "1.1.0"},
};

}  // namespace

// Every attack under each mode: Off behaves as without metadata (the
// attack succeeds where the package signatures let it), Verify and Require
// refuse it with its line and leave the product as it was. One test per
// attack, so that the runner may run them side by side.
class ScriptSignatureAttack : public ::testing::TestWithParam<int> {};

TEST_P(ScriptSignatureAttack, UnderEachMode) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  const Attack& a = kAttacks[GetParam()];
  for (const char* mode : kModes) {
    SCOPED_TRACE(std::string(a.what) + " under " + mode);
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(Transport::kHttp));
    u.Configure("Automatic", std::string("ScriptSignature ") + mode + "\n");
    Publisher p(u);
    a.prepare(u, p, mode);
    if (::testing::Test::HasFatalFailure()) return;
    std::string out;
    u.Run("--fg", &out);
    bool off = std::string(mode) == "Off";
    EXPECT_EQ(u.CountPart(off ? a.off_line : a.trust_line), 1) << u.Log();
    EXPECT_EQ(u.RegValue(kDemo, "Version"), off ? a.off_version : a.trust_version) << u.Log();
    if (off) {
      EXPECT_EQ(u.CountPart("Script metadata"), 0) << u.Log();
    } else if (std::string(a.trust_version) != "1.1.0") {
      // Refused: nothing of this run installed, no package left that failed.
      EXPECT_EQ(u.CountPrefix("MsiInstallProduct("), 0) << u.Log();
      if (u.RegValue(kDemo, "Version").empty()) {
        EXPECT_EQ(u.WorkNames(), std::vector<std::string>{}) << u.Log();
      }
    }
    EXPECT_FALSE(UpdateSystem::Exists(u.Work("updscript.sig")));
  }
}

INSTANTIATE_TEST_SUITE_P(Attacks, ScriptSignatureAttack,
                         ::testing::Range(0, static_cast<int>(sizeof kAttacks / sizeof kAttacks[0])));

// Without metadata on the source: Off and Verify go on (Verify with its
// warning), Require refuses and fetches nothing beyond the metadata.
TEST(ScriptSignature, MissingMetadata) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  const struct {
    const char* mode;
    const char* line;
    const char* version;
  } cases[] = {{"Off", "Installed: tqdemo-win64 - Version: 1.2.0-00 - OK", "1.2.0"},
               {"Verify", "Warning: no script metadata: /updscript.sig - the script is used without it", "1.2.0"},
               {"Require", "Script metadata required but not fetched: /updscript.sig", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(Transport::kHttp));
    u.Configure("Automatic", std::string("ScriptSignature ") + c.mode + "\n");
    ASSERT_TRUE(PublishPackage(u, kDemo, "1.2.0", "demo.txt", "pkgs/tqdemo-win64.msi"));
    u.WriteScript(Entry(kDemo));
    std::string out;
    u.Run("--fg", &out);
    EXPECT_EQ(u.CountText(c.line), 1) << u.Log();
    EXPECT_EQ(u.RegValue(kDemo, "Version"), c.version) << u.Log();
    if (std::string(c.mode) == "Require") {
      EXPECT_EQ(u.CountPrefix("Successfully fetched MessageDigest"), 0) << u.Log();
    }
  }
}

// A LocalShare copy of a signed repository (a share, a USB stick) is as
// trustworthy as the server: accepted as published, refused when a package
// was changed on the copy.
TEST(ScriptSignature, LocalShareCopyIsBoundByTheMetadata) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  for (bool tamper : {false, true}) {
    SCOPED_TRACE(tamper ? "tampered copy" : "copy as published");
    UpdateSystem u;
    ASSERT_TRUE(u.Serve(Transport::kLocalShare));
    u.Configure("Automatic", "ScriptSignature Require\n");
    Publisher p(u);
    p.Publish(kDemo, "1.2.0", 5);
    if (tamper) {
      ASSERT_TRUE(PublishPackage(u, kDemo, "1.1.0", "demo.txt", "pkgs/tqdemo-win64.msi"));
    }
    std::string out;
    u.Run("--fg", &out);
    EXPECT_EQ(u.CountPart("Script metadata accepted: " + u.Repo("updscript.sig") + " - Serial 5"), 1) << u.Log();
    EXPECT_EQ(u.CountText("Package does not match the script metadata: tqdemo-win64.msi"), tamper ? 1 : 0) << u.Log();
    EXPECT_EQ(u.RegValue(kDemo, "Version"), tamper ? "" : "1.2.0") << u.Log();
  }
}

// The accepted serial survives restarts of the service: a second run with
// the same metadata is accepted (identical content), a re-signed
// publication under the same serial is refused, a lower one too.
TEST(ScriptSignature, SerialSurvivesRestarts) {
  if (!updt::CanRun()) GTEST_SKIP() << "wixl/msibuild or the development key is missing";
  UpdateSystem u;
  ASSERT_TRUE(u.Serve(Transport::kHttp));
  u.Configure("Automatic", "ScriptSignature Require\n");
  Publisher p(u);
  p.Publish(kDemo, "1.2.0", 7);
  FirstRun(u);
  const struct {
    const char* what;
    uint64_t serial;      // 0: the metadata as it is
    const char* expires;  // for a re-signing
    const char* line;
  } runs[] = {{"same metadata again", 0, "", "Script metadata accepted: /updscript.sig - Serial 7"},
              {"same serial, other content", 7, "2098-01-01", "Script metadata serial 7 accepted before with other content"},
              {"lower serial", 6, "2099-01-01", "Script metadata serial 6 below the accepted 7 (rollback)"},
              {"higher serial", 8, "2099-01-01", "Script metadata accepted: /updscript.sig - Serial 8"}};
  for (const auto& r : runs) {
    SCOPED_TRACE(r.what);
    if (r.serial) p.Sign(r.serial, r.expires);
    std::string out;
    u.Run("--fg", &out);
    EXPECT_EQ(u.CountPart(r.line), 1) << u.Log();
    u.ClearLog();
  }
  EXPECT_EQ(u.RegValue("TQUpdate\\ScriptMetadata", "Accepted").substr(0, 2), "8 ");
}
