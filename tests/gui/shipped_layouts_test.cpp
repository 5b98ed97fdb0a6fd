// The shipped layouts: every name the programs look for, with its kind,
// the choice lists the form writes and reads, and sizes that fit a small
// screen; and the geometry's invariants over every layout of the fuzz
// corpus and the shipped ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/config_form.h"
#include "gui/geometry.h"
#include "gui/layout_reader.h"
#include "gui/window_system.h"
#include "tests/gui/gui_test_util.h"

namespace {

std::string Shipped(const char* rel) { return std::string(TQ_SOURCE_DIR) + "/dist/xml/" + rel; }

GUILayoutPtr LoadFile(const std::string& path) {
  GUILayoutPtr l(GUILoadLayout(path.c_str()));
  EXPECT_NE(l, nullptr) << path << ": " << GUILayoutReason();
  return l;
}

struct Named {
  std::string name;
  std::set<int> kinds;  // empty: any panel
};

std::vector<Named> MainWindowNames() {
  std::vector<Named> v = {
      {"PNLMAINTABF", {GUI_TABFOLDER}}, {"PNLCONNECTION", {}}, {"PNLSCHEDULE", {}}, {"PNLSERVICE", {}},
      {"PNLSVCOPTIONS", {}}, {"PNLSVCINSTALL", {}}, {"PNLSVCSTART", {}}, {"PNLSVCTEST", {}},
      {"DFPROTOCOL", {GUI_OPTMENU}}, {"DFSERVER", {GUI_TEXT}}, {"DFUSERNAME", {GUI_TEXT}},
      {"DFPASSWORD", {GUI_TEXT}}, {"DFCONFIRMPASSWORD", {GUI_TEXT}}, {"DFSCRIPTFILENAME", {GUI_TEXT}},
      {"DFINSTALLTYPE", {GUI_OPTMENU}}, {"DFSTARTUPWAIT", {GUI_OPTMENU}}, {"DFLOGLEVEL", {GUI_OPTMENU}},
      {"DFCHECKONSTART", {GUI_CHECKBOX}}, {"DFAUTOSTART", {GUI_CHECKBOX}}, {"DFUPDATEOPTIONS", {GUI_PUSHB}},
      {"DFINSTALL", {GUI_PUSHB}}, {"DFREMOVE", {GUI_PUSHB}}, {"DFINSTALLMSG", {GUI_LABEL, GUI_TEXT}},
      {"DFSTART", {GUI_PUSHB}}, {"DFSTOP", {GUI_PUSHB}}, {"DFRUNMSG", {GUI_LABEL, GUI_TEXT}},
      {"DFVIEWLOG", {GUI_PUSHB}}, {"DFVIEWCONFIG", {GUI_PUSHB}}, {"DFTEST", {GUI_PUSHB}},
      {"DFTESTMSG", {GUI_LABEL, GUI_TEXT}}, {"DFMESSAGE", {GUI_LABEL, GUI_TEXT}},
      {"DFSAVECONFIG", {GUI_PUSHB}}, {"DFOK", {GUI_PUSHB}}, {"DFCANCEL", {GUI_PUSHB}},
  };
  for (int n = 0; n < 5; ++n)
    for (const char* base : {"DFSTARTTIME", "DFENDTIME", "DFINTERVAL", "DFDAYOFWEEK", "DFDAYOFMONTH"})
      v.push_back({base + std::to_string(n), {GUI_OPTMENU, GUI_TEXT}});
  return v;
}

void ExpectNames(const GUILayout* l, const std::vector<Named>& names) {
  for (const Named& n : names) {
    SCOPED_TRACE(n.name);
    GUIWidget* w = GUIFindWidget(l, n.name.c_str());
    ASSERT_NE(w, nullptr);
    if (n.kinds.empty()) EXPECT_TRUE(w->is_panel);
    else EXPECT_TRUE(n.kinds.count(w->kind)) << GUIKindName(w->kind);
  }
}

std::vector<std::string> Choices(const GUILayout* l, const char* name) {
  std::vector<std::string> v;
  GUIWidget* w = GUIFindWidget(l, name);
  if (w) v = w->choices;
  return v;
}

bool Holds(const std::vector<std::string>& list, const std::string& text) {
  for (const auto& s : list)
    if (s == text) return true;
  return false;
}

TEST(ShippedLayouts, MainWindowHasItsNamesKeysMenusAndChoices) {
  GuiSystem sys;
  GUILayoutPtr l = LoadFile(Shipped("tqupdcnf.xml"));
  ASSERT_NE(l, nullptr);
  GUIComputeLayout(l.get(), 0, 0, GUIScreen());
  ExpectNames(l.get(), MainWindowNames());
  for (const char* page : {"PNLCONNECTION", "PNLSCHEDULE", "PNLSERVICE"})
    EXPECT_EQ(GUIFindWidget(l.get(), page)->parent, GUIFindWidget(l.get(), "PNLMAINTABF")) << page;
  for (const char* key : {"KD_ACCEPT", "KD_CANCEL", "KD_ESCAPE", "KD_USER3", "KD_USER4", "KD_USER5", "KD_USER6"}) {
    GUIKey* k = GUIFindKey(l.get(), key);
    ASSERT_NE(k, nullptr) << key;
    EXPECT_EQ(k->valid, 1) << key;
    // Enter and the editing keys of the fields stay theirs.
    EXPECT_FALSE(!k->control && !k->alt && (k->is_char || k->code == GUI_KEY_TAB || k->code == GUI_KEY_DELETE ||
                                            (k->code >= GUI_KEY_LEFT && k->code <= GUI_KEY_DOWN) ||
                                            k->code == GUI_KEY_BACK || k->code == GUI_KEY_HOME ||
                                            k->code == GUI_KEY_END || (k->code >= 'A' && k->code <= 'Z')))
        << key;
  }
  std::set<std::string> menus;
  for (auto& m : l->menus) menus.insert(m->name);
  EXPECT_TRUE(menus.count("M_FILE") && menus.count("M_EDIT") && menus.count("M_HELP"));
  bool about = false;
  for (GUIMenuItem* mi : l->menu_items) about = about || mi->name == "MI_ABOUT";
  EXPECT_TRUE(about);
  EXPECT_EQ(l->has_menu_bar, 1);
  int rights[8];
  EXPECT_EQ(GUIStatusParts(l->parts.c_str(), 600, rights, 8), 2);
  // Every text the form shows for a fresh configuration is a choice.
  UpdFormValues form;
  UpdFormFresh(&form);
  EXPECT_TRUE(Holds(Choices(l.get(), "DFINSTALLTYPE"), form.install_type));
  EXPECT_TRUE(Holds(Choices(l.get(), "DFSTARTUPWAIT"), form.startup_wait));
  EXPECT_TRUE(Holds(Choices(l.get(), "DFLOGLEVEL"), form.log_level));
  EXPECT_TRUE(Holds(Choices(l.get(), "DFINTERVAL0"), form.rows[0].interval));
  EXPECT_TRUE(Holds(Choices(l.get(), "DFDAYOFWEEK0"), form.rows[0].day_of_week));
  EXPECT_TRUE(Holds(Choices(l.get(), "DFDAYOFMONTH0"), form.rows[0].day_of_month));
  EXPECT_EQ(Choices(l.get(), "DFCHECKONSTART"), (std::vector<std::string>{"True", "False"}));
  EXPECT_EQ(Choices(l.get(), "DFAUTOSTART"), (std::vector<std::string>{"True", "False"}));
  for (const char* t : {"http", "https", "tqfs", "LocalShare"}) EXPECT_TRUE(Holds(Choices(l.get(), "DFPROTOCOL"), t));
  for (const char* t : {"None", "30 Sec", "1 Min", "2 Min", "5 Min", "15 Min", "30 Min", "1 Hour", "2 Hour"})
    EXPECT_TRUE(Holds(Choices(l.get(), "DFSTARTUPWAIT"), t)) << t;
  for (const char* t : {"15 Min", "30 Min", "1 Hour", "2 Hour", "4 Hour", "8 Hour", "12 Hour", "24 Hour", ""})
    EXPECT_TRUE(Holds(Choices(l.get(), "DFINTERVAL4"), t)) << t;
  for (const char* t : {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday", "None", ""})
    EXPECT_TRUE(Holds(Choices(l.get(), "DFDAYOFWEEK2"), t)) << t;
  for (int d = 1; d <= 31; ++d) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", d);
    EXPECT_TRUE(Holds(Choices(l.get(), "DFDAYOFMONTH3"), buf)) << buf;
  }
  EXPECT_EQ(Choices(l.get(), "DFLOGLEVEL").size(), 10u);
  EXPECT_EQ(Choices(l.get(), "DFLOGLEVEL")[9], "9 VeryVerbose");
  // The headless measures: the preferred size fits a 1024 x 768 screen.
  EXPECT_LE(l->root->pref_width, 1024);
  EXPECT_LE(l->root->pref_height, 768 - 80);
}

TEST(ShippedLayouts, LogonDialogHasItsNamesAndKeys) {
  GuiSystem sys;
  GUILayoutPtr l = LoadFile(Shipped("common/logon.xml"));
  ASSERT_NE(l, nullptr);
  ExpectNames(l.get(), {{"USERNAME", {GUI_TEXT}}, {"PASSWORD", {GUI_TEXT}}, {"OK", {GUI_PUSHB}},
                        {"CANCEL", {GUI_PUSHB}}});
  EXPECT_EQ(GUIFindWidget(l.get(), "PASSWORD")->password, 1);
  for (const char* key : {"KD_ACCEPT", "KD_CANCEL", "KD_ESCAPE"}) EXPECT_NE(GUIFindKey(l.get(), key), nullptr) << key;
  EXPECT_EQ(l->dialog, 1);
}

// Checks the invariants of a laid-out tree; `space` says whether the
// parent had at least its minimum size.
void CheckTree(const GUIWidget* w, bool space) {
  EXPECT_GE(w->min_width, 0) << w->name;
  EXPECT_GE(w->min_height, 0) << w->name;
  EXPECT_GE(w->width, 0) << w->name;
  EXPECT_GE(w->height, 0) << w->name;
  EXPECT_GE(w->pref_width, w->min_width) << w->name;
  EXPECT_GE(w->pref_height, w->min_height) << w->name;
  bool fits = space && w->width >= w->min_width && w->height >= w->min_height;
  if (space) {
    EXPECT_GE(w->width, w->min_width) << w->name;
    EXPECT_GE(w->height, w->min_height) << w->name;
  }
  for (const GUIWidget* c = w->child; c; c = c->next) {
    if (fits && w->kind != GUI_SCROLLWIN && w->kind != GUI_FORM && w->kind != GUI_LISTVIEW) {
      EXPECT_GE(c->x, 0) << c->name;
      EXPECT_GE(c->y, 0) << c->name;
      EXPECT_LE(c->x + c->width, w->width) << c->name << " in " << w->name;
      EXPECT_LE(c->y + c->height, w->height) << c->name << " in " << w->name;
    }
    CheckTree(c, fits && w->kind != GUI_SCROLLWIN && w->kind != GUI_FORM);
  }
}

TEST(ShippedLayouts, GeometryInvariantsOverTheCorpus) {
  GuiSystem sys;
  std::vector<std::string> files = {Shipped("tqupdcnf.xml"), Shipped("common/logon.xml")};
  std::string corpus = std::string(TQ_SOURCE_DIR) + "/fuzz/corpus/layout";
  if (std::filesystem::is_directory(corpus))
    for (const auto& e : std::filesystem::directory_iterator(corpus)) files.push_back(e.path().string());
  int laid_out = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    GUILayoutPtr l(GUILoadLayout(f.c_str()));
    if (!l) continue;
    GUIComputeLayout(l.get(), 0, 0, GUIScreen());
    CheckTree(l->root, true);
    for (int grow : {1, 300}) {
      GUIRelayout(l.get(), l->root->pref_width + grow, l->root->pref_height + grow, GUIScreen());
      CheckTree(l->root, true);
    }
    GUIRelayout(l.get(), l->root->min_width / 2, l->root->min_height / 2, GUIScreen());
    CheckTree(l->root, false);
    ++laid_out;
  }
  EXPECT_GE(laid_out, 2);
}

}  // namespace
