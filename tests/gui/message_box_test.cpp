// The tool's message boxes on the headless window system, which shows no
// box: every report still sounds the bell, reaches the box with its caption,
// icon and cut, and then goes to the console.
#include <gtest/gtest.h>

#include <string>

#include "gui/message_box.h"
#include "gui/window_system.h"
#include "platform/window.h"
#include "runtime/print.h"
#include "runtime/report.h"

namespace {

class MessageBoxes : public testing::Test {
 protected:
  void SetUp() override {
    GUISetWindowOps(PlatWindowHeadless());
    GUIInstallMessageBoxes();
    RVSetClientKind("WIN64-GUI");
  }
  void TearDown() override {
    RVSetReportHooks(nullptr);
    RVSetMessageBoxHook(nullptr);
    RVSetClientKind(nullptr);
  }
};

}  // namespace

TEST_F(MessageBoxes, ReportsAreToolBoxesThenConsole) {
  struct Case {
    void (*report)(const char*, ...);
    const char* caption;
    PlatBoxIcon icon;
    bool to_stderr;
  };
  const Case cases[] = {
      {RVReportError, "TQ Error", PLAT_BOX_ICON_ERROR, true},
      {RVReportInfo, "TQ Info", PLAT_BOX_ICON_INFO, false},
      {RVReportWarning, "TQ Info", PLAT_BOX_ICON_WARNING, true},
  };
  for (const Case& c : cases) {
    int boxes = PlatHeadlessLastBox()->count;
    int bells = PlatHeadlessBellCount();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    c.report("Activated: %d", 7);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(PlatHeadlessLastBox()->count, boxes + 1) << c.caption;
    EXPECT_STREQ(PlatHeadlessLastBox()->caption, c.caption);
    EXPECT_STREQ(PlatHeadlessLastBox()->text, "Activated: 7");
    EXPECT_EQ(PlatHeadlessLastBox()->icon, c.icon);
    EXPECT_EQ(PlatHeadlessBellCount(), bells + 1) << c.caption;
    EXPECT_EQ(c.to_stderr ? err : out, "Activated: 7\n") << c.caption;
    EXPECT_EQ(c.to_stderr ? out : err, "") << c.caption;
  }
}

TEST_F(MessageBoxes, ToolBoxTextIsCutAt4095AndEmptyShowsNothing) {
  std::string long_text(5000, 'x');
  testing::internal::CaptureStderr();
  RVReportError("%s", long_text.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(PlatHeadlessLastBox()->text), std::string(4095, 'x'));
  EXPECT_EQ(err, std::string(4095, 'x') + "\n");

  int boxes = PlatHeadlessLastBox()->count;
  int bells = PlatHeadlessBellCount();
  testing::internal::CaptureStderr();
  RVReportError("%s", "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(PlatHeadlessLastBox()->count, boxes);
  EXPECT_EQ(PlatHeadlessBellCount(), bells);
}

// The runtime's own output in a windowed program: "Info" and "Error" boxes
// with the warning icon, 1,023 bytes, one trailing line feed dropped, the
// bell for errors only; a box that cannot be shown goes to the console.
TEST_F(MessageBoxes, PrintedTextsAreInfoAndErrorBoxes) {
  int bells = PlatHeadlessBellCount();
  testing::internal::CaptureStdout();
  RVPrintInfo("%s - %s\n", "tqupdcnf", "usage");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "tqupdcnf - usage\n");
  EXPECT_STREQ(PlatHeadlessLastBox()->caption, "Info");
  EXPECT_STREQ(PlatHeadlessLastBox()->text, "tqupdcnf - usage");
  EXPECT_EQ(PlatHeadlessLastBox()->icon, PLAT_BOX_ICON_WARNING);
  EXPECT_EQ(PlatHeadlessBellCount(), bells);

  std::string long_text(3000, 'e');
  testing::internal::CaptureStderr();
  RVPrintError("%s", long_text.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(1023, 'e') + "\n");
  EXPECT_STREQ(PlatHeadlessLastBox()->caption, "Error");
  EXPECT_EQ(std::string(PlatHeadlessLastBox()->text), std::string(1023, 'e'));
  EXPECT_EQ(PlatHeadlessBellCount(), bells + 1);

  // Outside a windowed program nothing reaches a box.
  RVSetClientKind("WIN64");
  int boxes = PlatHeadlessLastBox()->count;
  testing::internal::CaptureStdout();
  RVPrintInfo("plain");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "plain\n");
  EXPECT_EQ(PlatHeadlessLastBox()->count, boxes);
}
