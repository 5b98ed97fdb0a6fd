// The layout reader: expat handlers for the elements of a layout file.
#include "gui/layout_reader.h"

#include <expat.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gui/layout_attrs.h"
#include "gui/layout_finish.h"
#include "platform/file.h"
#include "runtime/report.h"

namespace {

std::string g_layout_dir = ".";
std::string g_reason;

// What an open element is.
enum ElemType {
  E_NONE,     // refused or without effect
  E_LAYOUT,
  E_PANEL,
  E_DFIELD,
  E_DFIELD_SKIPPED, // an LVCol outside a list view: not created
  E_ITEM,
  E_MENUBAR,
  E_STATUSBAR,
  E_MENU,
  E_MENUITEM,
  E_TVITEM,
  E_ATTR,
  E_KEYTABLE,
  E_KEYDEF,
};

// Where an attribute element's value goes.
enum TargetType { T_LAYOUT, T_WIDGET, T_ITEM, T_MENU, T_MENUITEM, T_TVITEM, T_KEY };

struct Target {
  TargetType type;
  GUIWidget* widget;    // T_WIDGET, or the owner of T_ITEM
  int item_rows;        // T_ITEM: 1 in the owner's rows, 0 in its items
  size_t item_index;    // T_ITEM
  GUIMenu* menu;        // T_MENU
  GUIMenuItem* menu_item; // T_MENUITEM
  GUITreeItem* tv_item; // T_TVITEM
  GUIKey* key;          // T_KEY
};

// One open element.
struct Frame {
  ElemType type;
  GUIWidget* saved_panel;  // E_PANEL: the panel current before it
  GUIWidget* widget;       // E_PANEL, E_DFIELD: the widget made
  GUIMenu* saved_menu;     // E_MENU: the menu open before it
  GUIMenuItem* saved_item; // E_MENU: the item open before it
  Target target;           // E_ATTR
  std::string attr;        // E_ATTR: the attribute's name
  std::string data;        // E_ATTR: character data collected
};

// The open item of a field or list.
struct OpenItem {
  GUIWidget* owner;
  int rows;
  size_t index;
};

struct Reader {
  std::string path;
  std::unique_ptr<GUILayout> layout;
  XML_Parser parser = nullptr;
  bool layout_seen = false;
  bool problem = false;
  bool stop = false;        // a refusal that ends the parse at once
  std::string message;      // the last message
  int message_line = 0;     // the line of the element that raised it
  std::vector<Frame> stack; // open elements
  GUIWidget* panel = nullptr;   // current panel (the root at the layout's level)
  GUIWidget* dfield = nullptr;  // open data field
  int skipped_dfields = 0;      // open data fields that were not created
  OpenItem item = {nullptr, 0, 0};
  GUIMenu* menu = nullptr;
  GUIMenuItem* menu_item = nullptr;
  GUITreeItem* tv_item = nullptr;
  bool key_table = false;
  GUIKey* key = nullptr;
};

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Keeps a message that fails the load.
void Problem(Reader* r, const std::string& text) {
  r->problem = true;
  r->message = text;
  r->message_line = static_cast<int>(XML_GetCurrentLineNumber(r->parser));
}

// The value of attribute `name` (any case) in expat's list, or null.
const char* FindAttr(const XML_Char** attrs, const char* name) {
  for (int i = 0; attrs[i]; i += 2)
    if (Is(attrs[i], name)) return attrs[i + 1];
  return nullptr;
}

GUIItem* ItemOf(const OpenItem& it) {
  if (!it.owner) return nullptr;
  std::vector<GUIItem>& v = it.rows ? it.owner->rows : it.owner->items;
  return it.index < v.size() ? &v[it.index] : nullptr;
}

// Applies one attribute to a target.
void Apply(Reader* r, const Target& t, const char* name, const char* value) {
  std::string problem;
  switch (t.type) {
    case T_LAYOUT: GUISetLayoutAttr(r->layout.get(), name, value, &problem); break;
    case T_WIDGET: GUISetWidgetAttr(r->layout.get(), t.widget, name, value, &problem); break;
    case T_ITEM: {
      OpenItem it = {t.widget, t.item_rows, t.item_index};
      if (GUIItem* item = ItemOf(it)) GUISetItemAttr(item, name, value);
      break;
    }
    case T_MENU: GUISetMenuAttr(t.menu, name, value); break;
    case T_MENUITEM: GUISetMenuItemAttr(t.menu_item, name, value); break;
    case T_TVITEM: GUISetTreeItemAttr(t.tv_item, name, value); break;
    case T_KEY: GUISetKeyAttr(t.key, name, value); break;
  }
  if (!problem.empty()) Problem(r, problem);
}

// Applies every attribute of an element (Type excepted) to a target.
void ApplyAll(Reader* r, const Target& t, const XML_Char** attrs) {
  for (int i = 0; attrs[i]; i += 2) {
    if (t.type == T_WIDGET && Is(attrs[i], "Type")) continue;
    Apply(r, t, attrs[i], attrs[i + 1]);
  }
}

Target WidgetTarget(GUIWidget* w) {
  Target t = {};
  t.type = T_WIDGET;
  t.widget = w;
  return t;
}

// The innermost open object that an attribute element sets.
Target InnermostTarget(Reader* r) {
  Target t = {};
  if (r->menu_item) {
    t.type = T_MENUITEM;
    t.menu_item = r->menu_item;
  } else if (r->menu) {
    t.type = T_MENU;
    t.menu = r->menu;
  } else if (r->item.owner) {
    t.type = T_ITEM;
    t.widget = r->item.owner;
    t.item_rows = r->item.rows;
    t.item_index = r->item.index;
  } else if (r->dfield) {
    t = WidgetTarget(r->dfield);
  } else if (r->tv_item && r->panel && r->panel->kind == GUI_TREEVIEW) {
    t.type = T_TVITEM;
    t.tv_item = r->tv_item;
  } else if (r->panel && r->panel != r->layout->root) {
    t = WidgetTarget(r->panel);
  } else if (r->key) {
    t.type = T_KEY;
    t.key = r->key;
  } else {
    t.type = T_LAYOUT;
  }
  return t;
}

int PanelKind(const char* type) {
  static const struct {
    const char* name;
    int kind;
  } kTypes[] = {
      {"HRowCol", GUI_HROWCOL},   {"VRowCol", GUI_VROWCOL},       {"TabFolder", GUI_TABFOLDER},
      {"Form", GUI_FORM},         {"Grid", GUI_GRID},             {"Single", GUI_SINGLE},
      {"Ovly", GUI_OVLY},         {"List", GUI_LIST},             {"ListView", GUI_LISTVIEW},
      {"HSplitPane", GUI_HSPLITPANE}, {"VSplitPane", GUI_VSPLITPANE}, {"TreeView", GUI_TREEVIEW},
      {"ScrollWin", GUI_SCROLLWIN},
  };
  for (const auto& t : kTypes)
    if (Is(type, t.name)) return t.kind;
  return -1;
}

int FieldKind(const char* type) {
  static const struct {
    const char* name;
    int kind;
  } kTypes[] = {
      {"Text", GUI_TEXT},         {"Label", GUI_LABEL},     {"PushB", GUI_PUSHB},
      {"CheckBox", GUI_CHECKBOX}, {"RBGroup", GUI_RBGROUP}, {"OptMenu", GUI_OPTMENU},
      {"HSep", GUI_HSEP},         {"VSep", GUI_VSEP},       {"LVCol", GUI_LVCOL},
  };
  for (const auto& t : kTypes)
    if (Is(type, t.name)) return t.kind;
  return -1;
}

// "prefix" followed by the argument (messages of one %s at their end).
std::string Msg(const char* prefix, const std::string& arg) { return prefix + arg; }

void StartPanel(Reader* r, Frame* f, const XML_Char** attrs) {
  if (!r->layout_seen) return Problem(r, "<Layout> must be defined before first <Panel>");
  if (r->dfield || r->skipped_dfields) return Problem(r, "<Panel> tags cannot be embedded in <DField> tags");
  const char* type = FindAttr(attrs, "Type");
  int kind = type && *type ? PanelKind(type) : -1;
  if (kind < 0) {
    if (type && *type) Problem(r, Msg("Invalid Panel Type: ", type));
    return Problem(r, "Invalid or missing type for <Panel>");
  }
  GUIWidget* parent = r->panel ? r->panel : r->layout->root;
  if (parent == r->layout->root && parent->child) return Problem(r, "Only One Main Panel Allowed");
  GUIWidget* w = GUIAllocWidget(r->layout.get(), parent, kind);
  if (!w) return;
  w->margin_width = w->margin_height = -1;
  ApplyAll(r, WidgetTarget(w), attrs);
  f->type = E_PANEL;
  f->saved_panel = r->panel;
  f->widget = w;
  r->panel = w;
}

void StartDField(Reader* r, Frame* f, const XML_Char** attrs) {
  if (!r->panel || r->panel == r->layout->root)
    return Problem(r, "<DField> tags must be embedded in <Panel> tags");
  if (r->dfield || r->skipped_dfields)
    return Problem(r, "<DField> tags cannot be embedded in other <DField> tags");
  const char* type = FindAttr(attrs, "Type");
  int kind = type && *type ? FieldKind(type) : -1;
  if (kind < 0) return Problem(r, "Invalid or missing type for <DField>");
  if (kind == GUI_LVCOL && r->panel->kind != GUI_LISTVIEW) {
    RVReportError("LVCol without a ListView Parent");
    f->type = E_DFIELD_SKIPPED;
    r->skipped_dfields++;
    return;
  }
  GUIWidget* w = GUIAllocWidget(r->layout.get(), r->panel, kind);
  if (!w) return;
  ApplyAll(r, WidgetTarget(w), attrs);
  f->type = E_DFIELD;
  f->widget = w;
  r->dfield = w;
}

void StartItem(Reader* r, Frame* f, const XML_Char** attrs) {
  if (r->item.owner) return Problem(r, "<List> tags cannot be nested");
  OpenItem it = {nullptr, 0, 0};
  if (r->dfield) {
    it = {r->dfield, 0, r->dfield->items.size()};
    r->dfield->items.push_back(GUIItem{});
  } else if (!r->skipped_dfields && r->panel && (r->panel->kind == GUI_LIST || r->panel->kind == GUI_LISTVIEW)) {
    it = {r->panel, 1, r->panel->rows.size()};
    r->panel->rows.push_back(GUIItem{});
  } else if (r->skipped_dfields) {
    return;  // inside a field that was not created
  } else {
    return Problem(r, "<Item> tags must be embedded in <DField>, <List>, or <ListView> tags");
  }
  r->item = it;
  f->type = E_ITEM;
  if (GUIItem* item = ItemOf(it))
    for (int i = 0; attrs[i]; i += 2) GUISetItemAttr(item, attrs[i], attrs[i + 1]);
}

void StartMenu(Reader* r, Frame* f, const XML_Char** attrs) {
  GUIMenuItem* parent_item = nullptr;
  if (r->menu) {
    if (!r->menu_item) return Problem(r, "No Current Menu Item For SubMenu");
    parent_item = r->menu_item;
  }
  auto m = std::make_unique<GUIMenu>();
  m->user_code = -1;
  m->parent_item = parent_item;
  GUIMenu* menu = m.get();
  r->layout->menus.push_back(std::move(m));
  if (parent_item) {
    parent_item->submenu = menu;
    parent_item->type = GUI_MI_SUBMENU;
  }
  for (int i = 0; attrs[i]; i += 2) GUISetMenuAttr(menu, attrs[i], attrs[i + 1]);
  f->type = E_MENU;
  f->saved_menu = r->menu;
  f->saved_item = r->menu_item;
  r->menu = menu;
  r->menu_item = nullptr;
}

void StartMenuItem(Reader* r, Frame* f, const XML_Char** attrs) {
  if (!r->menu) return Problem(r, "No Current Menu For MenuItem");
  if (r->menu_item) return Problem(r, "Can't nest menu items");
  auto mi = std::make_unique<GUIMenuItem>();
  mi->menu = r->menu;
  mi->user_code = -1;
  mi->type = GUI_MI_COMMAND;
  GUIMenuItem* item = mi.get();
  r->layout->menu_items_owned.push_back(std::move(mi));
  r->menu->items.push_back(item);
  for (int i = 0; attrs[i]; i += 2) GUISetMenuItemAttr(item, attrs[i], attrs[i + 1]);
  f->type = E_MENUITEM;
  r->menu_item = item;
}

void StartTVItem(Reader* r, Frame* f, const XML_Char** attrs) {
  if (!r->panel || r->panel->kind != GUI_TREEVIEW) return Problem(r, "No Current TreeView For TVItem");
  auto t = std::make_unique<GUITreeItem>();
  t->user_code = -1;
  GUITreeItem* item = t.get();
  r->layout->tree_items.push_back(std::move(t));
  item->parent = r->tv_item;
  GUITreeItem** slot = r->tv_item ? &r->tv_item->first_child : &r->panel->tree_items;
  while (*slot) slot = &(*slot)->next;
  *slot = item;
  for (int i = 0; attrs[i]; i += 2) GUISetTreeItemAttr(item, attrs[i], attrs[i + 1]);
  f->type = E_TVITEM;
  r->tv_item = item;
}

void StartKeyDef(Reader* r, Frame* f, const XML_Char** attrs) {
  if (!r->key_table) return Problem(r, "KeyDef must be a subtag of <KeyTable>");
  if (r->key) return Problem(r, "Nested KeyDef");
  auto k = std::make_unique<GUIKey>();
  k->user_code = -1;
  GUIKey* key = k.get();
  r->layout->keys_owned.push_back(std::move(k));
  for (int i = 0; attrs[i]; i += 2) GUISetKeyAttr(key, attrs[i], attrs[i + 1]);
  f->type = E_KEYDEF;
  r->key = key;
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  Reader* r = static_cast<Reader*>(data);
  if (r->stop) return;
  int depth = static_cast<int>(r->stack.size());
  r->stack.push_back(Frame{});
  Frame* f = &r->stack.back();
  f->type = E_NONE;
  if (depth >= kGUILayoutDepthMax) {
    char msg[64];
    std::snprintf(msg, sizeof msg, "Layout nested deeper than %d levels", kGUILayoutDepthMax);
    Problem(r, msg);
    r->stop = true;
    XML_StopParser(r->parser, XML_FALSE);
    return;
  }
  if (Is(name, "Layout")) {
    if (r->layout_seen) return Problem(r, "Only One <Layout> tag allowed");
    r->layout_seen = true;
    r->layout->pct_x = r->layout->pct_y = -1;
    r->layout->x = r->layout->y = -1;
    Target t = {};
    t.type = T_LAYOUT;
    ApplyAll(r, t, attrs);
    r->panel = r->layout->root;
    f->type = E_LAYOUT;
  } else if (Is(name, "Panel")) {
    StartPanel(r, f, attrs);
  } else if (Is(name, "DField")) {
    StartDField(r, f, attrs);
  } else if (Is(name, "Item")) {
    StartItem(r, f, attrs);
  } else if (Is(name, "MenuBar")) {
    if (depth != 1) return Problem(r, "MenuBar must be a subtag of <Layout>");
    r->layout->has_menu_bar = 1;
    f->type = E_MENUBAR;
  } else if (Is(name, "StatusBar")) {
    r->layout->has_status_bar = 1;
    const char* parts = FindAttr(attrs, "Parts");
    if (parts && *parts) r->layout->parts = parts;
    f->type = E_STATUSBAR;
  } else if (Is(name, "Menu")) {
    StartMenu(r, f, attrs);
  } else if (Is(name, "MenuItem")) {
    StartMenuItem(r, f, attrs);
  } else if (Is(name, "TVItem")) {
    StartTVItem(r, f, attrs);
  } else if (GUIIsAttributeName(name)) {
    if (r->skipped_dfields && !r->dfield) return;  // belongs to a field that was not created
    f->type = E_ATTR;
    f->attr = name;
    f->target = InnermostTarget(r);
    const char* value = FindAttr(attrs, "Value");
    if (value && *value) Apply(r, f->target, name, value);
  } else if (Is(name, "KeyTable")) {
    if (depth != 1) return Problem(r, "KeyTable must be a subtag of <Layout>");
    r->key_table = true;
    f->type = E_KEYTABLE;
  } else if (Is(name, "KeyDef")) {
    StartKeyDef(r, f, attrs);
  } else {
    Problem(r, Msg("Unknown tag: ", name));
  }
}

void XMLCALL OnText(void* data, const XML_Char* s, int len) {
  Reader* r = static_cast<Reader*>(data);
  if (r->stop || r->stack.empty()) return;
  Frame& f = r->stack.back();
  if (f.type == E_ATTR) f.data.append(s, static_cast<size_t>(len));
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void XMLCALL OnEnd(void* data, const XML_Char*) {
  Reader* r = static_cast<Reader*>(data);
  if (r->stop || r->stack.empty()) return;
  Frame f = std::move(r->stack.back());
  r->stack.pop_back();
  switch (f.type) {
    case E_NONE: case E_LAYOUT: case E_MENUBAR: case E_STATUSBAR:
      break;
    case E_PANEL: {
      std::string message;
      GUIEndPanel(r->layout.get(), f.widget, &message);
      r->panel = f.saved_panel;
      break;
    }
    case E_DFIELD:
      GUIEndField(r->layout.get(), f.widget);
      r->dfield = nullptr;
      break;
    case E_DFIELD_SKIPPED:
      r->skipped_dfields--;
      break;
    case E_ITEM:
      r->item = {nullptr, 0, 0};
      break;
    case E_MENU:
      if (r->menu->text.empty()) r->menu->text = r->menu->name.empty() ? "Menu" : r->menu->name;
      r->menu = f.saved_menu;
      r->menu_item = f.saved_item;
      break;
    case E_MENUITEM: {
      GUIMenuItem* mi = r->menu_item;
      if (mi->text.empty())
        mi->text = !mi->name.empty() ? mi->name : (mi->submenu ? mi->submenu->text : std::string("MenuItem"));
      r->menu_item = nullptr;
      break;
    }
    case E_TVITEM:
      r->tv_item = r->tv_item ? r->tv_item->parent : nullptr;
      break;
    case E_ATTR: {
      size_t b = 0, e = f.data.size();
      while (b < e && IsSpace(f.data[b])) ++b;
      while (e > b && IsSpace(f.data[e - 1])) --e;
      if (e > b) Apply(r, f.target, f.attr.c_str(), f.data.substr(b, e - b).c_str());
      break;
    }
    case E_KEYTABLE:
      r->key_table = false;
      break;
    case E_KEYDEF:
      GUIEndKey(r->layout.get(), r->key);
      r->key = nullptr;
      break;
  }
}

// Appends the line suffix to the kept message.
void Suffix(Reader* r) {
  r->message += ", Line: " + std::to_string(r->message_line) + ", in file: " + r->path;
}

// Never loads an external entity.
int XMLCALL RefuseExternal(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
  return XML_STATUS_ERROR;
}

// Parses the bytes line by line. 0 when the layout is complete.
int Parse(Reader* r, const char* text, size_t length) {
  r->parser = XML_ParserCreate(nullptr);
  if (!r->parser) {
    g_reason = "Cannot Create XML_Parser";
    return -1;
  }
  XML_SetUserData(r->parser, r);
  XML_SetElementHandler(r->parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(r->parser, OnText);
  XML_SetExternalEntityRefHandler(r->parser, RefuseExternal);
  XML_SetParamEntityParsing(r->parser, XML_PARAM_ENTITY_PARSING_NEVER);
  size_t pos = 0;
  bool failed = false;
  do {
    if (r->problem) {
      Suffix(r);
      failed = true;
      break;
    }
    size_t end = pos;
    while (end < length && end - pos < kGUILayoutLineMax && text[end] != '\n') ++end;
    if (end < length && text[end] == '\n' && end - pos < kGUILayoutLineMax) ++end;
    bool last = end >= length;
    if (XML_Parse(r->parser, text + pos, static_cast<int>(end - pos), last ? 1 : 0) == XML_STATUS_ERROR &&
        !r->stop) {
      r->message = "ParseError at line: " + std::to_string(XML_GetCurrentLineNumber(r->parser)) +
                   ", in file: " + r->path + "\n\tXMLError: " + XML_ErrorString(XML_GetErrorCode(r->parser)) +
                   "\n";
      r->problem = true;
      failed = true;
      break;
    }
    pos = end;
    if (last) {
      if (r->problem) {
        Suffix(r);
        failed = true;
      }
      break;
    }
  } while (true);
  XML_ParserFree(r->parser);
  r->parser = nullptr;
  if (failed) {
    g_reason = r->message;
    return -1;
  }
  if (!r->layout_seen) {
    g_reason = Msg("No <Layout> tag in ", r->path);
    return -1;
  }
  if (!r->layout->root->child) {
    g_reason = "No Panels Defined";
    return -1;
  }
  return 0;
}

}  // namespace

void GUISetLayoutDir(const char* dir) { g_layout_dir = dir && *dir ? dir : "."; }

const char* GUILayoutDir() { return g_layout_dir.c_str(); }

std::string GUILayoutPath(const char* name) {
  std::string n = name ? name : "";
  if (!n.empty() && (n[0] == '/' || n[0] == '\\')) return n;
  if (n.size() > 2 && n[1] == ':') return n;
  return g_layout_dir + "/" + n;
}

GUILayout* GUILoadLayoutText(const char* text, size_t length, const char* path) {
  Reader r;
  r.path = path ? path : "";
  r.layout = GUINewLayout();
  if (Parse(&r, text ? text : "", text ? length : 0) != 0) return nullptr;
  GUIFinishLayout(r.layout.get());
  return r.layout.release();
}

GUILayout* GUILoadLayout(const char* name) {
  std::string path = GUILayoutPath(name);
  std::string bytes;
  PlatFileInfo info;
  if (PlatFileStat(path.c_str(), &info) != 0 || info.is_dir || PlatReadFile(path.c_str(), &bytes) != 0) {
    g_reason = Msg("Cannot open file: ", path);
    return nullptr;
  }
  return GUILoadLayoutText(bytes.data(), bytes.size(), path.c_str());
}

const char* GUILayoutReason() { return g_reason.c_str(); }
