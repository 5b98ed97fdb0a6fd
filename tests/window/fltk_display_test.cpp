// Opening and closing the FLTK display. The failures run in child
// processes of their own, whose environment has no usable display: a
// failure must come back as -1 with a reason and leave the process running.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "tests/support/child.h"
#include "tests/window/window_test_util.h"

namespace {

// Prints what every slot gives without a display.
void PrintSlotsWithoutDisplay(const PlatWindowOps* ops) {
  PlatScreenMeasures m;
  PlatFontSpec spec = {"DejaVu Sans", 13, 400, 0, 0};
  PlatFont* font = ops->font_create(&spec);
  ops->bell();
  ops->set_theme(1);
  int box = ops->message_box("Info", "Nothing to show this on.", PLAT_BOX_ICON_INFO, nullptr);
  std::printf("measures=%d font=%s fixed=%s box=%d\n", ops->screen_measures(&m), font ? "made" : "null",
              ops->font_system_fixed() ? "made" : "null", box);
  ops->font_free(font);
}

TQ_CHILD_ROLE(open_without_display) {
  const PlatWindowOps* ops = PlatWindowFltk();
  char first[256] = "", second[256] = "";
  int a = ops->open_display(first, sizeof first);
  int b = ops->open_display(second, sizeof second);
  std::printf("open=%d again=%d\nreason=%s\nreason again=%s\n", a, b, first, second);
  PrintSlotsWithoutDisplay(ops);
  ops->close_display();
  std::printf("child ends normally\n");
  return 0;
}

TQ_CHILD_ROLE(open_close_open) {
  const PlatWindowOps* ops = PlatWindowFltk();
  char reason[256] = "";
  int a = ops->open_display(reason, sizeof reason);
  PlatFontSpec spec = {"DejaVu Sans", 13, 400, 0, 0};
  PlatFont* font = ops->font_create(&spec);
  std::printf("open=%d font=%s\n", a, font ? "made" : "null");
  ops->font_free(font);
  ops->close_display();
  ops->close_display();
  int b = ops->open_display(reason, sizeof reason);
  std::printf("reopen=%d\nreason=%s\n", b, reason);
  PrintSlotsWithoutDisplay(ops);
  std::printf("child ends normally\n");
  return 0;
}

std::string SelfPath() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// A display number no server answers on: past the private one, with no
// socket of that number.
std::string DeadDisplay() {
  int n = TqXvfbServer()->number + 1000;
  while (::access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) ++n;
  return ":" + std::to_string(n);
}

TEST(FltkDisplay, UnusableDisplayIsAFailureWithReason) {
  std::string reason;
  ASSERT_EQ(TqXvfbStart(&reason), 0) << reason;
  std::string dead = DeadDisplay();
  struct Case {
    const char* what;
    std::string environment;
    std::string reason;
  } cases[] = {
      {"unset", "env -u DISPLAY", "Cannot open display: DISPLAY is not set"},
      {"empty", "env DISPLAY=", "Cannot open display: DISPLAY is not set"},
      {"dead", "env DISPLAY=" + dead, "Cannot open display: " + dead},
  };
  for (const Case& c : cases) {
    std::string out;
    int rc = TqRunCommand(c.environment + " " + TqXQuote(SelfPath()) + " --tq-child open_without_display", &out);
    EXPECT_EQ(rc, 0) << c.what << ":\n" << out;
    EXPECT_NE(out.find("open=-1 again=-1\n"), std::string::npos) << c.what << ":\n" << out;
    EXPECT_NE(out.find("reason=" + c.reason + "\nreason again=" + c.reason + "\n"), std::string::npos)
        << c.what << ":\n" << out;
    EXPECT_NE(out.find("measures=-1 font=null fixed=null box=-1\n"), std::string::npos) << c.what << ":\n" << out;
    EXPECT_NE(out.find("child ends normally"), std::string::npos) << c.what << ":\n" << out;
  }
}

// The display opens once per process: closed, it stays closed.
TEST(FltkDisplay, ClosedDisplayStaysClosed) {
  std::string reason;
  ASSERT_EQ(TqXvfbStart(&reason), 0) << reason;
  std::string out;
  int rc = TqRunCommand(TqXQuote(SelfPath()) + " --tq-child open_close_open", &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("open=0 font=made\n"), std::string::npos) << out;
  EXPECT_NE(out.find("reopen=-1\nreason=Cannot open display: the display of this process was closed\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("measures=-1 font=null fixed=null box=-1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("child ends normally"), std::string::npos) << out;
}

using FltkDisplayOpen = FltkDisplayTest;

TEST_F(FltkDisplayOpen, OpenAgainGivesTheFirstResult) {
  char reason[64] = "untouched";
  EXPECT_EQ(PlatWindowFltk()->open_display(reason, sizeof reason), 0);
  EXPECT_EQ(PlatWindowFltk()->open_display(nullptr, 0), 0);
  EXPECT_STREQ(PlatWindowFltk()->name, "fltk");
}

}  // namespace
