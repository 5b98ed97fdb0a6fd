// The layout reader: every message with its line suffix, the line numbers
// expat reports, the completions of fields, lists, menus and keys, the
// post-processing, and bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/layout.h"
#include "gui/layout_reader.h"
#include "tests/gui/gui_test_util.h"

namespace {

const char kPath[] = "t.xml";

// A layout text loaded as if from kPath; null on failure.
GUILayoutPtr Load(const std::string& text) {
  return GUILayoutPtr(GUILoadLayoutText(text.data(), text.size(), kPath));
}

std::string Suffix(int line) { return ", Line: " + std::to_string(line) + ", in file: t.xml"; }

// A one-line layout body inside a Layout with one main panel.
std::string InPanel(const std::string& body) {
  return "<Layout><Panel Type=\"VRowCol\">" + body + "</Panel></Layout>";
}

struct FailCase {
  const char* what;
  std::string text;
  std::string reason;
};

TEST(LayoutReader, EveryMessageFailsTheLoadWithItsReason) {
  GuiSystem sys;
  const std::vector<FailCase> cases = {
      {"second layout", "<Layout><Panel Type='VRowCol'/><Layout/></Layout>",
       "Only One <Layout> tag allowed" + Suffix(1)},
      {"panel before layout", "<Panel Type='VRowCol'/>", "<Layout> must be defined before first <Panel>" + Suffix(1)},
      {"panel in field", InPanel("<DField Type='Text'><Panel Type='Form'/></DField>"),
       "<Panel> tags cannot be embedded in <DField> tags" + Suffix(1)},
      {"panel without type", "<Layout><Panel/></Layout>", "Invalid or missing type for <Panel>" + Suffix(1)},
      {"panel of a bad type", "<Layout><Panel Type='Box'/></Layout>",
       "Invalid or missing type for <Panel>" + Suffix(1)},
      {"internal kind as panel type", "<Layout><Panel Type='HLblData'/></Layout>",
       "Invalid or missing type for <Panel>" + Suffix(1)},
      {"two main panels", "<Layout><Panel Type='VRowCol'/><Panel Type='HRowCol'/></Layout>",
       "Only One Main Panel Allowed" + Suffix(1)},
      {"field in layout", "<Layout><DField Type='Text'/></Layout>",
       "<DField> tags must be embedded in <Panel> tags" + Suffix(1)},
      {"field in field", InPanel("<DField Type='Text'><DField Type='Text'/></DField>"),
       "<DField> tags cannot be embedded in other <DField> tags" + Suffix(1)},
      {"field without type", InPanel("<DField/>"), "Invalid or missing type for <DField>" + Suffix(1)},
      {"field of a bad type", InPanel("<DField Type='Button'/>"), "Invalid or missing type for <DField>" + Suffix(1)},
      {"item in item", InPanel("<DField Type='OptMenu'><Item><Item/></Item></DField>"),
       "<List> tags cannot be nested" + Suffix(1)},
      {"item in a row panel", InPanel("<Item Text='a'/>"),
       "<Item> tags must be embedded in <DField>, <List>, or <ListView> tags" + Suffix(1)},
      {"menu bar in a panel", InPanel("<MenuBar/>"), "MenuBar must be a subtag of <Layout>" + Suffix(1)},
      {"submenu without item", "<Layout><Menu><Menu/></Menu><Panel Type='VRowCol'/></Layout>",
       "No Current Menu Item For SubMenu" + Suffix(1)},
      {"item without menu", "<Layout><MenuItem/><Panel Type='VRowCol'/></Layout>",
       "No Current Menu For MenuItem" + Suffix(1)},
      {"nested items", "<Layout><Menu><MenuItem><MenuItem/></MenuItem></Menu><Panel Type='VRowCol'/></Layout>",
       "Can't nest menu items" + Suffix(1)},
      {"tree item outside a tree", InPanel("<TVItem Label='a'/>"), "No Current TreeView For TVItem" + Suffix(1)},
      {"key table in a panel", InPanel("<KeyTable/>"), "KeyTable must be a subtag of <Layout>" + Suffix(1)},
      {"key outside a key table", "<Layout><KeyDef Key='A'/><Panel Type='VRowCol'/></Layout>",
       "KeyDef must be a subtag of <KeyTable>" + Suffix(1)},
      {"nested keys", "<Layout><KeyTable><KeyDef Key='A'><KeyDef Key='B'/></KeyDef></KeyTable></Layout>",
       "Nested KeyDef" + Suffix(1)},
      {"unknown tag", InPanel("<Button/>"), "Unknown tag: Button" + Suffix(1)},
      {"bad data type", InPanel("<DField Type='Text' DataType='Money'/>"), "Illegal DataType: Money" + Suffix(1)},
      {"bad data type as element", InPanel("<DField Type='Text'><DataType>Money</DataType></DField>"),
       "Illegal DataType: Money" + Suffix(1)},
      {"no layout", "<Menu/>", "No <Layout> tag in t.xml"},
      {"no panel", "<Layout Title='x'/>", "No Panels Defined"},
      {"not well-formed", "<Layout>\n<Panel Type='VRowCol'>\n</Layout>\n",
       "ParseError at line: 3, in file: t.xml\n\tXMLError: mismatched tag\n"},
      {"empty file", "", "ParseError at line: 1, in file: t.xml\n\tXMLError: no element found\n"},
      {"truncated", "<Layout><Panel Type='VRowCol'/>",
       "ParseError at line: 1, in file: t.xml\n\tXMLError: no element found\n"},
      {"NUL byte", std::string("<Layout><Panel Type='VRowCol'/>\0</Layout>", 41),
       "ParseError at line: 1, in file: t.xml\n\tXMLError: not well-formed (invalid token)\n"},
      {"binary garbage", std::string("\x01\xff\xfe\x00\x13\x37", 6),
       "ParseError at line: 1, in file: t.xml\n\tXMLError: not well-formed (invalid token)\n"},
      {"later message on the same line replaces", InPanel("<Foo/><Bar/>"), "Unknown tag: Bar" + Suffix(1)},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.what);
    GUILayoutPtr l = Load(c.text);
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(GUILayoutReason(), c.reason);
  }
}

TEST(LayoutReader, LineSuffixNamesTheLineOfTheProblem) {
  GuiSystem sys;
  const std::vector<FailCase> cases = {
      {"first line", "<Layout><Bad/>\n<Panel Type='VRowCol'/>\n</Layout>\n", "Unknown tag: Bad" + Suffix(1)},
      {"middle line", "<Layout>\n<Panel Type='VRowCol'>\n<Bad/>\n</Panel>\n</Layout>\n", "Unknown tag: Bad" + Suffix(3)},
      {"last line with a newline", "<Layout>\n<Panel Type='VRowCol'/>\n</Layout><Bad/>\n",
       "ParseError at line: 3, in file: t.xml\n\tXMLError: junk after document element\n"},
      {"last line, problem in a handler", "<Layout>\n<Panel Type='VRowCol'/><Panel Type='Form'/></Layout>\n",
       "Only One Main Panel Allowed" + Suffix(2)},
      {"last line without a newline", "<Layout>\n<Panel Type='VRowCol'/><Panel Type='Form'/></Layout>",
       "Only One Main Panel Allowed" + Suffix(2)},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Load(c.text), nullptr);
    EXPECT_EQ(GUILayoutReason(), c.reason);
  }
}

TEST(LayoutReader, MessagesShownAtOnceKeepTheLoadGoing) {
  GuiSystem sys;
  struct Case {
    std::string text;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {InPanel("<DField Type='LVCol' Name='C'><Name Value='X'/></DField>"), "LVCol without a ListView Parent"},
      {"<Layout><Panel Type='ListView' Name='LV'><DField Type='LVCol'/><DField Type='Text'/></Panel></Layout>",
       "Illegal Child Type for ListView: LV"},
      {"<Layout><Panel Type='TabFolder' TabCloseButton='Some'/></Layout>",
       "Invalid Value: Some for \"TabCloseButton\" - Ignored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    ReportCapture reports;
    GUILayoutPtr l = Load(c.text);
    ASSERT_NE(l, nullptr) << GUILayoutReason();
    ASSERT_EQ(reports.errors.size(), 1u);
    EXPECT_EQ(reports.errors[0], c.shown);
    // The field that was not created took nothing with it.
    EXPECT_EQ(GUIFindWidget(l.get(), "X"), nullptr);
    EXPECT_EQ(GUIFindWidget(l.get(), "C"), nullptr);
    if (GUIWidget* tf = l->root->child; tf->kind == GUI_TABFOLDER) {
      EXPECT_EQ(tf->tab_close, GUI_TABCLOSE_NONE);
    }
  }
}

struct FactCase {
  const char* what;
  std::string text;
  std::function<void(const GUILayout*)> check;
};

GUIWidget* W(const GUILayout* l, const char* name) {
  GUIWidget* w = GUIFindWidget(l, name);
  EXPECT_NE(w, nullptr) << name;
  static GUIWidget none{};
  return w ? w : &none;
}

TEST(LayoutReader, TreeFactsOfLoadedLayouts) {
  GuiSystem sys;
  const std::vector<FactCase> cases = {
      {"names and values without case", "<layout><panel TYPE='vrowcol' name='P'/></layout>",
       [](const GUILayout* l) { EXPECT_EQ(W(l, "P")->kind, GUI_VROWCOL); }},
      {"push button captions",
       InPanel("<DField Type='PushB' Name='DFOK'/><DField Type='PushB'/><DField Type='Label'/>"
               "<DField Type='CheckBox' Text='On'/>"),
       [](const GUILayout* l) {
         EXPECT_EQ(W(l, "DFOK")->text, "DFOK");
         EXPECT_EQ(W(l, "PushB_3")->text, "PushB");
         EXPECT_EQ(W(l, "Label_4")->text, "Label");
         EXPECT_EQ(W(l, "CheckBox_5")->text, "On");
       }},
      {"radio group takes its label as title",
       InPanel("<DField Type='RBGroup' Name='R' Label='Pick'><Item Text='a'/><Item Text='b' Default='True'/></DField>"),
       [](const GUILayout* l) {
         GUIWidget* r = W(l, "R");
         EXPECT_EQ(r->text, "Pick");
         EXPECT_EQ(r->label, "");
         EXPECT_EQ(r->parent->kind, GUI_VROWCOL);
         ASSERT_EQ(r->items.size(), 2u);
         EXPECT_EQ(r->items[1].text, "b");
         EXPECT_EQ(r->items[1].is_default, 1);
         EXPECT_EQ(r->data_type, GUI_DT_CHOICE);
       }},
      {"side-labelled field keeps its name",
       InPanel("<DField Type='Text' Name='DFSERVER' Label='Server:' PercentX='30' BorderSize='2'/>"),
       [](const GUILayout* l) {
         GUIWidget* f = W(l, "DFSERVER");
         GUIWidget* box = f->parent;
         EXPECT_EQ(box->kind, GUI_HLBLDATA);
         EXPECT_EQ(box->name, "HLblData_3");
         EXPECT_EQ(box->child->kind, GUI_LABEL);
         EXPECT_EQ(box->child->text, "Server:");
         EXPECT_EQ(box->child->font_class, "sidelabel");
         EXPECT_EQ(box->child->next, f);
         EXPECT_EQ(box->pct_x, 30);
         EXPECT_EQ(box->border, 2);
         EXPECT_EQ(f->pct_x, -1);
         EXPECT_EQ(f->border, 0);
         EXPECT_EQ(box->spacing, 5);
         EXPECT_EQ(f->halign, GUI_ALIGN_START);
       }},
      {"top label and separator label",
       InPanel("<DField Type='OptMenu' Name='O' Label='Top' LabelType='top'/><DField Type='HSep' Name='S' Label='Sep'/>"),
       [](const GUILayout* l) {
         GUIWidget* box = W(l, "O")->parent;
         EXPECT_EQ(box->kind, GUI_VLBLDATA);
         EXPECT_EQ(box->spacing, 3);
         EXPECT_EQ(box->child->font_class, "toplabel");
         EXPECT_EQ(box->child->valign, GUI_ALIGN_END);
         GUIWidget* sep = W(l, "S")->parent;
         EXPECT_EQ(sep->child->font_class, "hsep");
         EXPECT_EQ(sep->data_align_off, 1);
       }},
      {"attribute as element", InPanel("<DField Type='Text' Name='T'><PrefCols Value='30'/></DField>"),
       [](const GUILayout* l) { EXPECT_EQ(W(l, "T")->pref_cols, 30); }},
      {"character data collected, trimmed, entities kept",
       InPanel("<DField Type='Text' Name='T'><Text>\n   A &amp; B\n  </Text><Format Value='x(5)'>  </Format></DField>"),
       [](const GUILayout* l) {
         EXPECT_EQ(W(l, "T")->text, "A & B");
         EXPECT_EQ(W(l, "T")->format, "x(5)");
       }},
      {"attribute element goes to the innermost object",
       "<Layout><Title>Main</Title><Panel Type='VRowCol' Name='P'><Title>Group</Title>"
       "<DField Type='OptMenu' Name='O'><Item><Text>one</Text></Item></DField></Panel></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(l->title, "Main");
         EXPECT_EQ(W(l, "P")->text, "Group");
         ASSERT_EQ(W(l, "O")->items.size(), 1u);
         EXPECT_EQ(W(l, "O")->items[0].text, "one");
       }},
      {"attribute values", InPanel("<DField Type='Text' Name='T' GrabWidth='-3' MinWidth='-3P' PrefWidth='1e400D'"
                                   " NumRows='0' PercentX='250' MinCols='99999999999' Hidden='yes' Disabled='TRUE'/>"),
       [](const GUILayout* l) {
         GUIWidget* t = W(l, "T");
         EXPECT_EQ(t->grab_width, 0);
         EXPECT_EQ(t->min_px_width, 0);
         EXPECT_EQ(t->pref_px_width, 1);  // "1", then "e" is no unit: pixels
         EXPECT_EQ(t->num_rows, 0);
         EXPECT_EQ(t->pct_x, 100);
         EXPECT_EQ(t->min_cols, 0);
         EXPECT_EQ(t->visible, 1);
         EXPECT_EQ(t->disabled, 1);
       }},
      {"TabCloseButton and margins",
       "<Layout><Panel Type='TabFolder' Name='TF' TabCloseButton='current'><Panel Type='Form' Title='T' Name='F'/>"
       "<Panel Type='Form' Name='G' Frame='etched' MarginWidth='7'/></Panel></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(W(l, "TF")->tab_close, GUI_TABCLOSE_CURRENT);
         EXPECT_EQ(W(l, "F")->margin_width, 3);
         EXPECT_EQ(W(l, "F")->margin_height, 3);
         EXPECT_EQ(W(l, "G")->margin_width, 7);
         EXPECT_EQ(W(l, "G")->margin_height, 3);
         EXPECT_EQ(W(l, "TF")->margin_width, 0);
       }},
      {"list completion",
       "<Layout><Panel Type='List' Name='L' Header='Name Size' MinCols='10' PrefRows='0' TabStop='True'"
       " FirstInput='True'><Item Text='r1'/><Item Text='r2'/></Panel></Layout>",
       [](const GUILayout* l) {
         GUIWidget* list = W(l, "L");
         ASSERT_EQ(GUIChildCount(list), 2);
         GUIWidget* hdr = list->child;
         GUIWidget* det = hdr->next;
         EXPECT_EQ(hdr->kind, GUI_LISTHDR);
         EXPECT_EQ(hdr->text, "Name Size");
         EXPECT_EQ(det->kind, GUI_LISTDET);
         EXPECT_EQ(det->rows.size(), 2u);
         EXPECT_EQ(det->min_cols, 10);
         EXPECT_EQ(det->pref_cols, 20);
         EXPECT_EQ(det->min_rows, 1);
         EXPECT_EQ(det->pref_rows, 20);
         EXPECT_EQ(det->tab_stop, 1);
         EXPECT_EQ(list->tab_stop, 0);
         EXPECT_EQ(l->first_input, det);
         EXPECT_EQ(list->adjust_child_width, 100);
       }},
      {"split pane splitters", "<Layout><Panel Type='HSplitPane' Name='S'><Panel Type='VRowCol'/>"
                               "<Panel Type='VRowCol'/><Panel Type='VRowCol'/></Panel></Layout>",
       [](const GUILayout* l) {
         std::vector<int> kinds;
         for (GUIWidget* c = W(l, "S")->child; c; c = c->next) kinds.push_back(c->kind);
         EXPECT_EQ(kinds, (std::vector<int>{GUI_VROWCOL, GUI_HSPLITTER, GUI_VROWCOL, GUI_HSPLITTER, GUI_VROWCOL}));
       }},
      {"single adjustments", "<Layout><Panel Type='Single' Name='S' AdjustLeft='20' AdjustRight='30'>"
                             "<Panel Type='VRowCol'/></Panel></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(W(l, "S")->adjust_child_width, 50);
         EXPECT_EQ(W(l, "S")->adjust_child_height, 100);
       }},
      {"tree items", "<Layout><Panel Type='TreeView' Name='T'><TVItem Label='a'><TVItem Label='a1'/>"
                     "<TVItem Label='a2'><Name>N</Name></TVItem></TVItem><TVItem Label='b' Expand='True'/></Panel></Layout>",
       [](const GUILayout* l) {
         GUITreeItem* a = W(l, "T")->tree_items;
         ASSERT_NE(a, nullptr);
         EXPECT_EQ(a->label, "a");
         ASSERT_NE(a->first_child, nullptr);
         EXPECT_EQ(a->first_child->next->name, "N");
         EXPECT_EQ(a->next->label, "b");
         EXPECT_EQ(a->next->expand, 1);
         EXPECT_EQ(W(l, "T")->text, "");
       }},
      {"menus, submenus and accelerators",
       "<Layout><MenuBar/><Menu Name='M_FILE' Mnemonic='F'><MenuItem Name='MI_OPEN' Accelerator='KD_OPEN'/>"
       "<MenuItem><Menu Text='More'/></MenuItem><MenuItem Type='Separator'/></Menu><Menu/>"
       "<KeyTable><KeyDef Key='O' Name='KD_OPEN' Control='True'/></KeyTable><Panel Type='VRowCol'/></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(l->has_menu_bar, 1);
         ASSERT_EQ(l->menus.size(), 3u);
         EXPECT_EQ(l->menus[0]->text, "M_FILE");
         EXPECT_EQ(l->menus[0]->mnemonic, 'F');
         EXPECT_EQ(l->menus[1]->text, "More");
         EXPECT_EQ(l->menus[2]->text, "Menu");
         ASSERT_EQ(l->menu_items.size(), 3u);
         EXPECT_EQ(l->menu_items[0]->text, "MI_OPEN");
         ASSERT_NE(l->menu_items[0]->key, nullptr);
         EXPECT_EQ(l->menu_items[0]->key->text, "Ctrl+O");
         EXPECT_EQ(l->menu_items[1]->type, GUI_MI_SUBMENU);
         EXPECT_EQ(l->menu_items[1]->text, "More");
         EXPECT_EQ(l->menu_items[2]->type, GUI_MI_SEPARATOR);
         EXPECT_EQ(l->menu_items[2]->index, 2);
         EXPECT_EQ(l->menu_items[2]->command, 30003);
       }},
      {"keys: text, reverse index, dropped keys",
       "<Layout><KeyTable><KeyDef Key='F5' Control='True' Shift='True' Name='K1'/><KeyDef Key='PageUp' Name='K2'/>"
       "<KeyDef Name='K3'/><KeyDef Key='^a' Alt='True'/><KeyDef Key='esCape' Text='Esc'/></KeyTable>"
       "<Panel Type='VRowCol'/></Layout>",
       [](const GUILayout* l) {
         ASSERT_EQ(l->keys.size(), 4u);  // K3 has no Key
         EXPECT_EQ(l->keys[0]->name, "esCape");
         EXPECT_EQ(l->keys[0]->text, "Esc");
         EXPECT_EQ(l->keys[0]->code, GUI_KEY_ESCAPE);
         EXPECT_EQ(l->keys[1]->text, "Alt+^a");
         EXPECT_EQ(l->keys[1]->is_char, 1);
         EXPECT_EQ(l->keys[1]->code, 1);  // same as ^A
         EXPECT_EQ(l->keys[2]->name, "K2");
         EXPECT_EQ(l->keys[2]->valid, 0);
         EXPECT_EQ(l->keys[3]->text, "Ctrl+Shift+F5");
         EXPECT_EQ(l->keys[3]->code, GUI_KEY_F1 + 4);
         EXPECT_EQ(l->keys[3]->index, 3);
         EXPECT_EQ(l->keys[3]->command, 30004);
       }},
      {"status bar parts", "<Layout><StatusBar Parts='50:25:25'/><Panel Type='VRowCol'/></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(l->has_status_bar, 1);
         EXPECT_EQ(l->parts, "50:25:25");
       }},
      {"default names and traversal ring",
       "<Layout TraverseAny='True'><Panel Type='VRowCol' TabGroup='True'><DField Type='Text' Name='A' Next='C'/>"
       "<DField Type='Label'/><DField Type='Text' Name='B'/><DField Type='Text' Name='C' DisplayOnly='True'/>"
       "<Panel Type='HRowCol' TabGroup='True'><DField Type='PushB' Name='D'/></Panel></Panel></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(l->root->child->name, "VRowCol_1");
         EXPECT_EQ(W(l, "Label_3")->kind, GUI_LABEL);
         EXPECT_EQ(l->root->name, "Root_0");
         // C left traversal, so A's Next is not followed.
         EXPECT_EQ(W(l, "A")->trav_next, W(l, "B"));
         EXPECT_EQ(W(l, "B")->trav_next, W(l, "D"));
         EXPECT_EQ(W(l, "D")->trav_next, W(l, "A"));
         EXPECT_EQ(W(l, "D")->group, W(l, "HRowCol_6"));
         EXPECT_EQ(W(l, "A")->group, l->root->child);
         EXPECT_EQ(l->tab_style, GUI_TABSTYLE_VISIBLE);
         EXPECT_EQ(l->traverse, GUI_TRAVERSE_ANY);
       }},
      {"layout attributes", "<Layout Dialog='True' PercentX='50' XPos='10' TraverseVisible='False' TabStyle='all'>"
                            "<Panel Type='VRowCol'/></Layout>",
       [](const GUILayout* l) {
         EXPECT_EQ(l->dialog, 1);
         EXPECT_EQ(l->pct_x, 50);
         EXPECT_EQ(l->pct_y, -1);
         EXPECT_EQ(l->x, 10);
         EXPECT_EQ(l->y, -1);
         EXPECT_EQ(l->traverse, GUI_TRAVERSE_CURRENT);
         EXPECT_EQ(l->tab_style, GUI_TABSTYLE_ALL);
       }},
      {"DOCTYPE with internal entities",
       "<!DOCTYPE Layout [<!ENTITY t 'Caption'>]><Layout><Panel Type='VRowCol'><DField Type='PushB' Name='P' Text='&t;'/>"
       "</Panel></Layout>",
       [](const GUILayout* l) { EXPECT_EQ(W(l, "P")->text, "Caption"); }},
  };
  for (const FactCase& c : cases) {
    SCOPED_TRACE(c.what);
    GUILayoutPtr l = Load(c.text);
    ASSERT_NE(l, nullptr) << GUILayoutReason();
    c.check(l.get());
  }
}

TEST(LayoutReader, ExternalEntitiesAreNeverLoaded) {
  GuiSystem sys;
  std::string secret = sys.path("secret.txt");
  WriteLines(secret, {"SECRET"});
  std::string text = "<!DOCTYPE Layout [<!ENTITY x SYSTEM '" + secret +
                     "'>]><Layout><Panel Type='VRowCol'><DField Type='PushB' Name='P' Text='a'>"
                     "<Text>&x;</Text></DField></Panel></Layout>";
  GUILayoutPtr l = Load(text);
  if (l) {
    EXPECT_EQ(GUIFindWidget(l.get(), "P")->text.find("SECRET"), std::string::npos);
  } else {
    EXPECT_NE(std::string(GUILayoutReason()).find("ParseError"), std::string::npos);
  }
}

TEST(LayoutReader, FilesAndPaths) {
  GuiSystem sys;
  std::string dir = sys.path("xml");
  mkdir(dir.c_str(), 0755);
  WriteLines(dir + "/ok.xml", {"<Layout>", "<Panel Type='VRowCol'/>", "</Layout>"});
  WriteLines(dir + "/empty.xml", {});
  GUISetLayoutDir(dir.c_str());
  EXPECT_EQ(GUILayoutPath("ok.xml"), dir + "/ok.xml");
  EXPECT_EQ(GUILayoutPath("/abs/x.xml"), "/abs/x.xml");
  EXPECT_EQ(GUILayoutPath("\\abs\\x.xml"), "\\abs\\x.xml");
  EXPECT_EQ(GUILayoutPath("C:x.xml"), "C:x.xml");
  EXPECT_EQ(GUILayoutPath("C:"), dir + "/C:");
  GUILayoutPtr ok(GUILoadLayout("ok.xml"));
  EXPECT_NE(ok, nullptr) << GUILayoutReason();
  struct Case {
    const char* name;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"missing.xml", "Cannot open file: " + dir + "/missing.xml"},
      {".", "Cannot open file: " + dir + "/."},
      {"empty.xml", "ParseError at line: 1, in file: " + dir + "/empty.xml\n\tXMLError: no element found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GUILayoutPtr(GUILoadLayout(c.name)), nullptr);
    EXPECT_EQ(GUILayoutReason(), c.reason);
  }
  GUISetLayoutDir(nullptr);
  EXPECT_STREQ(GUILayoutDir(), ".");
}

TEST(LayoutReader, UnreadableFileCannotBeOpened) {
  GuiSystem sys;
  std::string path = sys.path("secret.xml");
  WriteLines(path, {"<Layout><Panel Type='VRowCol'/></Layout>"});
  chmod(path.c_str(), 0);
  if (access(path.c_str(), R_OK) == 0) GTEST_SKIP() << "root reads every file";
  EXPECT_EQ(GUILayoutPtr(GUILoadLayout(path.c_str())), nullptr);
  EXPECT_EQ(GUILayoutReason(), "Cannot open file: " + path);
}

TEST(LayoutReader, LargeAndDeepInput) {
  GuiSystem sys;
  // Panels nested past the limit are refused, not recursed into.
  std::string deep = "<Layout>";
  for (int i = 0; i < 5000; ++i) deep += "<Panel Type='VRowCol'>";
  EXPECT_EQ(Load(deep), nullptr);
  EXPECT_EQ(GUILayoutReason(), "Layout nested deeper than 100 levels" + Suffix(1));
  // Nesting up to the limit loads.
  std::string ok = "<Layout>";
  for (int i = 0; i < kGUILayoutDepthMax - 1; ++i) ok += "<Panel Type='VRowCol'>\n";
  for (int i = 0; i < kGUILayoutDepthMax - 1; ++i) ok += "</Panel>\n";
  ok += "</Layout>\n";
  EXPECT_NE(Load(ok), nullptr) << GUILayoutReason();
  // 100,000 widgets, a 1 MB value, 10,000 keys.
  std::string big = "<Layout><KeyTable>";
  for (int i = 0; i < 10000; ++i) big += "<KeyDef Key='F" + std::to_string(1 + i % 24) + "'/>\n";
  big += "</KeyTable><Panel Type='VRowCol'><DField Type='Label' Text='" + std::string(1 << 20, 'x') + "'/>\n";
  for (int i = 0; i < 100000; ++i) big += "<DField Type='Text'/>\n";
  big += "</Panel></Layout>\n";
  GUILayoutPtr l = Load(big);
  ASSERT_NE(l, nullptr) << GUILayoutReason();
  EXPECT_EQ(l->widgets.size(), 100003u);
  EXPECT_EQ(l->keys.size(), 10000u);
  EXPECT_EQ(l->root->child->child->text.size(), 1u << 20);
}

TEST(LayoutReader, Utf16WithByteOrderMarkLoads) {
  GuiSystem sys;
  std::string utf8 = "<Layout><Panel Type='VRowCol' Name='P\xc3\xa4'/></Layout>";
  std::string utf16 = "\xff\xfe";
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xc3) {
      utf16 += '\xe4';
      utf16 += '\0';
      ++i;
      continue;
    }
    utf16 += static_cast<char>(c);
    utf16 += '\0';
  }
  GUILayoutPtr l = Load(utf16);
  ASSERT_NE(l, nullptr) << GUILayoutReason();
  EXPECT_NE(GUIFindWidget(l.get(), "P\xc3\xa4"), nullptr);
}

}  // namespace
