// The real tqupdcnf on a private X server: usage lines and option errors
// are message boxes of their own, closed with real key presses. The texts
// the boxes showed are read back from the test-only trace; screenshots are
// kept as artefacts.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/temp_system.h"
#include "tests/support/xvfb.h"
#include "tests/tool/tool_test_util.h"

namespace {

const std::string kTool = TQ_BINARY_DIR "/tool/tqupdcnf";

class ToolBoxes : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    if (TqXvfbStart(&reason) < 0) GTEST_SKIP() << "no private X server: " << reason;
    sys_.SetEnv("TQ_TEST_TRACE", sys_.path("trace.txt").c_str());
    ToolInstallFontFile(sys_);
  }

  // Starts the tool with `args`; its pid.
  pid_t Start(const std::vector<std::string>& args) { return ToolSpawn(kTool, args); }

  // Waits for the tool's exit code (-1 when it did not end).
  int Finish(pid_t pid) {
    int code = -1;
    if (TqXWaitChild(pid, 20000, &code) < 0) {
      TqXKillChild(pid);
      return -1;
    }
    return code;
  }

  std::vector<std::string> Trace() const { return ToolTraceLines(sys_); }

  TempSystem sys_;
};

}  // namespace

// -H: one "Info" box a usage line, each closed with Return; exit code 0.
TEST_F(ToolBoxes, UsageIsOneInfoBoxALine) {
  const std::vector<std::string> lines = {
      "tqupdcnf - @(#) TQ - Version 6.7.5-01", "Usage: tqupdcnf <option> [<optarg>] ...",
      "\tOptions:",       "\t\t-w <waitnsecs>", "\t\t-x <xmldir>", "\t\t-D - Debug", "\t\t-H - Help",
      "\t\t-V - Verbose Debug", "\t\t--stop", "\t\t--remove", "\t\t-- - other options"};
  std::string artefacts = TQ_X_TEST_ARTIFACT_DIR();
  pid_t pid = Start({"-H"});
  ASSERT_GT(pid, 0);
  for (size_t i = 0; i < lines.size(); ++i) {
    unsigned long box = TqXFindWindowTitled("Info");
    ASSERT_NE(box, 0ul) << "box " << i;
    if (i == 0) {
      std::string name;
      ASSERT_EQ(TqXWindowName(box, &name), 0);
      EXPECT_EQ(name, "Info");
      TqXGeometry g;
      ASSERT_EQ(TqXWindowGeometry(box, &g), 0);
      std::string shot = artefacts + "/usage-first-box.png";
      ASSERT_EQ(TqXScreenshot(box, shot), 0);
      int w = 0, h = 0;
      ASSERT_EQ(TqXImageSize(shot, &w, &h), 0);
      EXPECT_EQ(w, g.width);
      EXPECT_EQ(h, g.height);
    }
    ASSERT_EQ(TqXKey(box, "Return"), 0);
    // The next box comes only once this one is gone.
    for (int k = 0; k < 200 && Trace().size() <= i; ++k) ::usleep(20000);
  }
  EXPECT_EQ(Finish(pid), 0);
  std::vector<std::string> expected;
  for (const std::string& l : lines) expected.push_back("box Info: " + l);
  EXPECT_EQ(Trace(), expected);
}

// An unknown option: one "Error" box with the option error, exit code 1.
TEST_F(ToolBoxes, OptionErrorIsOneErrorBox) {
  pid_t pid = Start({"-q"});
  ASSERT_GT(pid, 0);
  unsigned long box = TqXFindWindowTitled("Error");
  ASSERT_NE(box, 0ul);
  ASSERT_EQ(TqXScreenshot(box, TQ_X_TEST_ARTIFACT_DIR() + "/option-error.png"), 0);
  ASSERT_EQ(TqXKey(box, "Return"), 0);
  EXPECT_EQ(Finish(pid), 1);
  EXPECT_EQ(Trace(), std::vector<std::string>{"box Error: tqupdcnf: illegal option -- -- 'q'"});
}

// A windowed run with a display sets up its window system, runs the
// operations and, until the main window exists, ends with 0 and shows no
// box.
TEST_F(ToolBoxes, WindowedRunEndsAfterTheOperations) {
  pid_t pid = Start({"--svcstop"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(Finish(pid), 0);
  EXPECT_EQ(Trace(), std::vector<std::string>{"OpenService() - Error: 1060"});
}
