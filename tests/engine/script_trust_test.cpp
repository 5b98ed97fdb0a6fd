// The engine's side of signed script metadata: the ScriptSignature key as
// the reader, the tool's form and the writer take it, and the accepted
// serial in the machine registry under failing writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/config.h"
#include "engine/config_form.h"
#include "engine/config_writer.h"
#include "engine/script_serial.h"
#include "platform/fault.h"
#include "tests/engine/engine_test_util.h"

namespace {

const char kBase[] = "Protocol http\nServer host\nScript s\n";

}  // namespace

// Off, Verify and Require in any case are read, shown and written again
// (Off, the default, is not written); any other value is a configuration
// error that fails the read.
TEST(ScriptSignatureKey, ReaderFormAndWriter) {
  EngineSystem env;
  const struct {
    const char* line;
    int result;
    int32_t code;
    const char* shown;
    const char* message;
  } cases[] = {
      {"", 0, UPD_SCRIPT_SIGNATURE_OFF, "", nullptr},
      {"ScriptSignature Off\n", 0, UPD_SCRIPT_SIGNATURE_OFF, "", nullptr},
      {"ScriptSignature verify\n", 0, UPD_SCRIPT_SIGNATURE_VERIFY, "Verify", nullptr},
      {"ScriptSignature REQUIRE\n", 0, UPD_SCRIPT_SIGNATURE_REQUIRE, "Require", nullptr},
      {"ScriptSignature Verify\nScriptSignature Require\n", 0, UPD_SCRIPT_SIGNATURE_REQUIRE, "Require", nullptr},
      {"ScriptSignature Strict\n", -1, 0, "", "Invalid ScriptSignature: Strict - Off, Verify or Require"},
      {"ScriptSignature Requires\n", -1, 0, "", "Invalid ScriptSignature: Requires - Off, Verify or Require"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    env.WriteConfig(std::string(kBase) + c.line);
    EXPECT_EQ(UpdReadConfig(), c.result);
    std::vector<std::string> texts = env.Texts();
    if (c.message) {
      EXPECT_NE(std::find(texts.begin(), texts.end(), c.message), texts.end());
      UpdFreeConfig();
      continue;
    }
    ASSERT_NE(g_upd_config, nullptr);
    EXPECT_EQ(g_upd_config->script_signature, c.code);
    UpdFormValues form;
    UpdFormFill(g_upd_config, &form);
    EXPECT_EQ(form.script_signature, c.shown);
    std::string text = UpdConfigText(&form, 0, "tester");
    std::string line = std::string("ScriptSignature\t") + c.shown + "\n";
    EXPECT_EQ(text.find(line) != std::string::npos, *c.shown != '\0') << text;
    EXPECT_EQ(text.find("ScriptSignature") != std::string::npos, *c.shown != '\0') << text;
    UpdFreeConfig();
  }
  EXPECT_STREQ(kUpdScriptSignatureTexts[UPD_SCRIPT_SIGNATURE_VERIFY], "Verify");
}

// The stored serial: missing, stored, raised; a damaged value is reported,
// not taken for "none".
TEST(ScriptSerial, StoresAndReads) {
  EngineSystem env;
  UpdStoredSerial s;
  ASSERT_EQ(UpdReadStoredSerial(&s), 0);
  EXPECT_EQ(s.present, 0);
  const std::string hex(64, 'c');
  ASSERT_EQ(UpdStoreSerial(18446744073709551615ULL, hex), 0);
  ASSERT_EQ(UpdReadStoredSerial(&s), 0);
  EXPECT_EQ(s.present, 1);
  EXPECT_EQ(s.serial, 18446744073709551615ULL);
  EXPECT_EQ(s.digest_hex, hex);
  env.sys().WriteFile("system/registry/HKLM.reg",
                      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TQ "
                      "Software\\TQUpdate\\ScriptMetadata]\r\n\"Accepted\"=\"0 xyz\"\r\n");
  EXPECT_EQ(UpdReadStoredSerial(&s), -1);
}

// A write of a higher serial that fails at any step of the registry's
// write (open, write, sync, rename) leaves the old value whole: never lower,
// never half-written; a write that reports success is read back.
TEST(ScriptSerial, FailedWritesKeepTheOldSerial) {
  EngineSystem env;
  const std::string old_hex(64, 'a');
  const std::string new_hex(64, 'b');
  const PlatSyscall kinds[] = {PLAT_SYS_OPEN, PLAT_SYS_WRITE, PLAT_SYS_FSYNC, PLAT_SYS_RENAME, PLAT_SYS_UNLINK};
  int scenarios = 0;
  for (PlatSyscall kind : kinds) {
    ASSERT_EQ(UpdStoreSerial(5, old_hex), 0);
    PlatFaultClear();
    ASSERT_EQ(UpdStoreSerial(6, new_hex), 0);
    int calls = PlatFaultCalls(kind);
    for (int nth = 1; nth <= calls; ++nth) {
      PlatFaultClear();
      ASSERT_EQ(UpdStoreSerial(5, old_hex), 0);
      PlatFaultInject(kind, nth, EIO, false);
      int stored = UpdStoreSerial(6, new_hex);
      PlatFaultClear();
      ++scenarios;
      UpdStoredSerial s;
      ASSERT_EQ(UpdReadStoredSerial(&s), 0) << kind << " " << nth;
      ASSERT_EQ(s.present, 1);
      if (stored == 0) {
        EXPECT_EQ(s.serial, 6u) << kind << " " << nth;
        EXPECT_EQ(s.digest_hex, new_hex);
      } else {
        EXPECT_EQ(s.serial, 5u) << kind << " " << nth;
        EXPECT_EQ(s.digest_hex, old_hex);
      }
    }
  }
  EXPECT_GT(scenarios, 2);
}
