// The loaded-module binding in processes that did not bind in-process, and
// the platform's module loading under it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/crypto_runtime.h"
#include "crypto/crypto_slots.h"
#include "platform/error.h"
#include "platform/module.h"
#include "runtime/report.h"
#include "tests/crypto/crypto_test_util.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

namespace {

const std::string kModuleDir = TQ_BINARY_DIR "/crypto";

std::vector<std::string> g_reports;  // error reports of a child
void KeepReport(const char* text) { g_reports.push_back(text); }

// Runs the load child with `lib_dir` ("-" for none); returns what it wrote.
std::string RunLoadChild(const TempSystem& sys, const std::string& lib_dir) {
  std::string out = sys.path("child-out.txt");
  std::filesystem::remove(out);
  int rc = TqWaitChild(TqSpawnChild("crypto_load_module", {lib_dir, out}));
  return "exit=" + std::to_string(rc) + "\n" + ReadWholeFile(out);
}

}  // namespace

// Binds the record with RVCryptoLoadLib from args[0] (or with no lib_dir for
// "-") and writes the result, the reports and the checks of the module's
// slots to the file args[1].
TQ_CHILD_ROLE(crypto_load_module) {
  TempSystem sys;
  if (args[0] == "-") sys.SetEnv("HOME_TQ", sys.path("no-such-home").c_str());
  else sys.SetEnv("lib_dir", args[0].c_str());
  RVReportHooks hooks = {nullptr, nullptr, KeepReport};
  RVSetReportHooks(&hooks);
  int rc = RVCryptoLoadLib();
  std::string out = "rc=" + std::to_string(rc) + "\n";
  for (const std::string& r : g_reports) out += "report: " + r + "\n";
  // A second attempt (either binding) only returns the first one's status.
  g_reports.clear();
  if (RVCryptoLoadLib() != rc || RVCryptoInitLib() != rc || !g_reports.empty()) out += "retry changed\n";
  RVCryptoLib* lib = RVCryptoGetLib();
  if (rc == 0 && lib) {
    out += lib->module ? "module\n" : "no module\n";
    // The slots are the module's own functions, not this program's copies.
    out += lib->digest_mem != CryptoLibDigestMem ? "module slots\n" : "own slots\n";
    unsigned char md[20];
    if (lib->digest_mem("abc", 3, md, RV_DIGEST_SHA1) == 20) out += "sha1 " + Hex(md, 20) + "\n";
    // Blowfish through the module: its legacy provider is loaded too.
    RVCryptoCipher c{};
    c.algorithm = RV_CIPHER_BLOWFISH;
    c.mode = 2;
    c.key_len = 16;
    unsigned char key[16] = {1, 2, 3};
    c.key = key;
    unsigned char buf[32] = "round trip";
    int n = lib->cipher_encrypt(&c, buf, 10);
    if (n == 16 && lib->cipher_decrypt(&c, buf, n) == 10) out += "blowfish ok\n";
    lib->cipher_free(&c);
    testing::internal::CaptureStdout();
    lib->test("module");
    std::string listing = testing::internal::GetCapturedStdout();
    if (listing.rfind("RVCryptoTest(): module\nCipher Types\n-", 0) == 0) out += "listing ok\n";
  }
  std::ofstream(args[1]) << out;
  return 0;
}

TEST(CryptoModule, LoadLibBindsTheBuiltModule) {
  TempSystem sys;
  std::string got = RunLoadChild(sys, kModuleDir);
  EXPECT_EQ(got,
            "exit=0\nrc=0\nmodule\nmodule slots\nsha1 a9993e364706816aba3e25717850c26c9cd0d89d\n"
            "blowfish ok\nlisting ok\n");
}

TEST(CryptoModule, LoadLibFailuresAreReported) {
  TempSystem sys;
  const std::string openssl = std::string(RV_CRYPTO_OPENSSL_FILE);
  const std::string module = std::string(RV_CRYPTO_MODULE_FILE);
  const std::string real_openssl = std::filesystem::canonical(kModuleDir + "/" + openssl).string();
  auto dir = [&](const std::string& name) {
    std::filesystem::create_directories(sys.path(name));
    return sys.path(name);
  };
  std::string empty = dir("empty");
  std::string no_module = dir("no-module");
  std::filesystem::create_symlink(real_openssl, no_module + "/" + openssl);
  std::string not_library = dir("not-library");
  std::filesystem::create_symlink(real_openssl, not_library + "/" + openssl);
  sys.WriteFile("not-library/" + module, "this is text, not a module\n");
  std::string no_init = dir("no-init");
  std::filesystem::create_symlink(real_openssl, no_init + "/" + openssl);
  std::filesystem::create_symlink(real_openssl, no_init + "/" + module);

  struct Case {
    std::string lib_dir;
    std::string expected;
  } cases[] = {
      {empty, "report: Cannot open DLL Library '" + empty + "/" + openssl + "' - Error: 126\n"},
      {no_module, "report: Cannot open DLL Library '" + no_module + "/" + module + "' - Error: 126\n"},
      {not_library, "report: Cannot open DLL Library '" + not_library + "/" + module + "' - Error: 193\n"},
      {no_init, "report: RVCryptoLoadLib() error, no init routine in " + no_init + "/" + module + "\n"},
      {"-", "report: lib_dir not set - cannot load: " + module + "\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RunLoadChild(sys, c.lib_dir), "exit=0\nrc=-1\n" + c.expected) << c.lib_dir;
}

TEST(CryptoModule, PlatformModuleErrors) {
  TempSystem sys;
  sys.WriteFile("text.so", "not a module");
  PlatModule* m = PlatModuleLoad(sys.path("missing.so").c_str());
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(PlatModuleLoad(sys.path("text.so").c_str()), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(PlatModuleLoad(sys.root().c_str()), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);

  m = PlatModuleLoad((kModuleDir + "/" + RV_CRYPTO_MODULE_FILE).c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_NE(PlatModuleSymbol(m, "RVCryptoInit"), nullptr);
  // Only the entry point is exported.
  EXPECT_EQ(PlatModuleSymbol(m, "_Z12RVCryptoTestPKc"), nullptr);  // RVCryptoTest(const char*)
  EXPECT_EQ(PlatGetLastError(), ERROR_PROC_NOT_FOUND);
  PlatModuleFree(m);
}
