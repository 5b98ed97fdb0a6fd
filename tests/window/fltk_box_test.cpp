// The FLTK message box, shown by a child process on the private X server
// and driven from outside as a user would: found by its title, looked at
// with xprop, xwininfo and screenshots, closed with real key presses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/child.h"
#include "tests/window/window_test_util.h"

namespace {

// Shows one box: caption, text, icon (0 error, 1 info, 2 warning), themed
// (0 or 1). Exits 0 once the box has been closed.
TQ_CHILD_ROLE(show_box) {
  if (args.size() != 4) return 64;
  const PlatWindowOps* ops = PlatWindowFltk();
  char reason[256] = "";
  if (ops->open_display(reason, sizeof reason) != 0) {
    std::fprintf(stderr, "%s\n", reason);
    return 3;
  }
  ops->set_theme(std::atoi(args[3].c_str()));
  int shown = ops->message_box(args[0].c_str(), args[1].c_str(), static_cast<PlatBoxIcon>(std::atoi(args[2].c_str())),
                               nullptr);
  ops->close_display();
  return shown == 0 ? 0 : 2;
}

struct BoxRequest {
  std::string caption;
  std::string text;
  int icon;
  int themed;
};

// A box shown by a child; the child is ended when the test leaves it open.
struct ShownBox {
  pid_t pid = 0;
  unsigned long window = 0;
  TqXGeometry geometry = {};
  ~ShownBox() { TqXKillChild(pid); }
};

// Starts the child and finds its box (and saves a screenshot at `shot`
// when it is given).
::testing::AssertionResult Show(const BoxRequest& r, ShownBox* box, const std::string& shot = "") {
  std::string reason;
  if (TqXvfbStart(&reason) != 0) return ::testing::AssertionFailure() << reason;
  box->pid = TqSpawnChild("show_box", {r.caption, r.text, std::to_string(r.icon), std::to_string(r.themed)});
  box->window = TqXFindWindowTitled(r.caption);
  if (!box->window) return ::testing::AssertionFailure() << "no window titled " << r.caption;
  if (TqXWindowGeometry(box->window, &box->geometry) != 0)
    return ::testing::AssertionFailure() << "no geometry of " << r.caption;
  if (!shot.empty() && TqXScreenshot(box->window, shot) != 0)
    return ::testing::AssertionFailure() << "no screenshot of " << r.caption;
  return ::testing::AssertionSuccess();
}

// Presses `key` in the box and waits for the child: its exit code, or -1
// when it is still running.
int CloseWith(ShownBox* box, const char* key) {
  if (TqXKey(box->window, key) != 0) return -1;
  int code = -1;
  if (TqXWaitChild(box->pid, 10000, &code) != 0) return -1;
  box->pid = 0;
  return code;
}

constexpr char kText[] = "The update check found nothing to install.";

TEST(FltkBox, TitledByCaptionCentredAndClosedByKey) {
  for (const char* key : {"Return", "Escape"}) {
    std::string dir = TQ_X_TEST_ARTIFACT_DIR();
    ASSERT_FALSE(dir.empty());
    std::string shot = dir + "/info-" + key + ".png";
    ShownBox box;
    ASSERT_TRUE(Show({"Info", kText, PLAT_BOX_ICON_INFO, 0}, &box, shot)) << key;
    std::string name;
    ASSERT_EQ(TqXWindowName(box.window, &name), 0);
    EXPECT_EQ(name, "Info");
    int w = 0, h = 0;
    ASSERT_EQ(TqXImageSize(shot, &w, &h), 0);
    EXPECT_EQ(w, box.geometry.width);
    EXPECT_EQ(h, box.geometry.height);
    EXPECT_NEAR(box.geometry.x, (1280 - box.geometry.width) / 2, 1);
    EXPECT_NEAR(box.geometry.y, (1024 - box.geometry.height) / 2, 1);
    EXPECT_EQ(CloseWith(&box, key), 0) << key << " did not close the box";
  }
}

// Wider for a longer line, taller for more lines, and never wider than the
// screen: a line too long for it is wrapped.
TEST(FltkBox, SizedToItsText) {
  std::string long_line =
      "The package tqdemo-win64 was downloaded from the update server and its signature was checked.";
  std::string five_lines = "Line one\nLine two\nLine three\nLine four\nLine five";
  std::string huge;
  while (huge.size() < 3000) huge += "an overly long message without line breaks ";
  TqXGeometry g[4];
  const std::string texts[] = {"Done.", long_line, five_lines, huge};
  std::string dir = TQ_X_TEST_ARTIFACT_DIR();
  for (int i = 0; i < 4; ++i) {
    ShownBox box;
    std::string caption = "Size " + std::to_string(i);
    ASSERT_TRUE(Show({caption, texts[i], PLAT_BOX_ICON_INFO, 0}, &box, dir + "/" + caption + ".png"));
    g[i] = box.geometry;
    EXPECT_EQ(CloseWith(&box, "Return"), 0);
  }
  EXPECT_GT(g[1].width, g[0].width + 200);
  EXPECT_EQ(g[1].height, g[0].height);
  EXPECT_GT(g[2].height, g[0].height + 40);
  EXPECT_LT(g[3].width, 1280);
  EXPECT_GT(g[3].height, g[2].height);
  EXPECT_LE(g[3].height, 1024);
}

TEST(FltkBox, CentredOnTheWorkArea) {
  WorkAreaReset reset;
  std::string reason;
  ASSERT_EQ(TqXvfbStart(&reason), 0) << reason;
  ASSERT_EQ(TqXSetWorkArea(200, 100, 800, 600), 0);
  ShownBox box;
  ASSERT_TRUE(Show({"Info", kText, PLAT_BOX_ICON_INFO, 0}, &box));
  EXPECT_NEAR(box.geometry.x, 200 + (800 - box.geometry.width) / 2, 1);
  EXPECT_NEAR(box.geometry.y, 100 + (600 - box.geometry.height) / 2, 1);
  EXPECT_EQ(CloseWith(&box, "Return"), 0);
}

// Takes the screenshot of one box and closes it.
void Shoot(const BoxRequest& r, const std::string& shot) {
  ShownBox box;
  ASSERT_TRUE(Show(r, &box, shot));
  EXPECT_EQ(CloseWith(&box, "Return"), 0);
}

TEST(FltkBox, ThemedAndPlainLookDifferent) {
  std::string dir = TQ_X_TEST_ARTIFACT_DIR();
  Shoot({"Info", kText, PLAT_BOX_ICON_INFO, 0}, dir + "/plain.png");
  Shoot({"Info", kText, PLAT_BOX_ICON_INFO, 1}, dir + "/themed.png");
  long differ = TqXImageDifference(dir + "/plain.png", dir + "/themed.png");
  ASSERT_GE(differ, 0) << "the two pictures have different sizes";
  EXPECT_GT(differ, 100);
}

TEST(FltkBox, EachIconLooksDifferent) {
  std::string dir = TQ_X_TEST_ARTIFACT_DIR();
  const char* names[] = {"error", "info", "warning"};
  for (int icon = 0; icon < 3; ++icon)
    Shoot({"TQ Info", kText, icon, 0}, dir + "/" + names[icon] + ".png");
  for (int a = 0; a < 3; ++a) {
    for (int b = a + 1; b < 3; ++b) {
      long differ = TqXImageDifference(dir + "/" + names[a] + ".png", dir + "/" + names[b] + ".png");
      ASSERT_GE(differ, 0) << names[a] << " and " << names[b] << " differ in size";
      EXPECT_GT(differ, 100) << names[a] << " and " << names[b];
    }
  }
}

}  // namespace
