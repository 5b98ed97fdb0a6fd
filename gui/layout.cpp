// The records of a layout: kinds, allocation, links.
#include "gui/layout.h"

#include <cstring>

#include "runtime/report.h"

namespace {

const char* const kKindNames[kGUIKindMax + 1] = {
    "Root",      "HRowCol",   "VRowCol",    "TabFolder",  "Form",     "Grid",     "Single",
    "Ovly",      "List",      "ListView",   "HSplitPane", "VSplitPane", "HSplitter", "VSplitter",
    "Text",      "Label",     "PushB",      "CheckBox",   "RBGroup",  "OptMenu",  "HLblData",
    "VLblData",  "TabFNotify", "ListHdr",   "ListDet",    "TVNotify", "TreeView", "ScrollWin",
    "HSep",      "VSep",      "Frame",      "LVCol",
};

// Kinds that take part in traversal and accept input.
bool TakesInput(int kind) {
  switch (kind) {
    case GUI_TEXT: case GUI_PUSHB: case GUI_CHECKBOX: case GUI_RBGROUP: case GUI_OPTMENU:
    case GUI_LIST: case GUI_LISTVIEW: case GUI_LISTDET: case GUI_TREEVIEW:
      return true;
    default:
      return false;
  }
}

// Data field kinds.
bool IsDataKind(int kind) {
  return (kind >= GUI_TEXT && kind <= GUI_OPTMENU) || kind == GUI_HSEP || kind == GUI_VSEP ||
         kind == GUI_LVCOL;
}

// A fresh widget of `kind` with its defaults.
std::unique_ptr<GUIWidget> NewWidget(int kind) {
  auto w = std::make_unique<GUIWidget>();
  GUIWidget* p = w.get();
  // Value-initialised: every pointer null, every number 0.
  p->kind = kind;
  p->user_code = -1;
  p->pct_width = p->pct_height = -1;
  p->pct_x = p->pct_y = -1;
  p->visible = p->visible_created = 1;
  p->is_panel = GUIKindIsPanel(kind);
  p->is_data = IsDataKind(kind) ? 1 : 0;
  p->traversal = p->input = TakesInput(kind) ? 1 : 0;
  p->data_type = (kind == GUI_CHECKBOX || kind == GUI_RBGROUP || kind == GUI_OPTMENU) ? GUI_DT_CHOICE
                                                                                      : GUI_DT_ALPHA;
  p->hstretch = kind == GUI_HSEP ? 1 : 0;
  p->vstretch = kind == GUI_VSEP ? 1 : 0;
  p->halign = p->valign = GUI_ALIGN_UNSET;
  p->justify = -1;
  p->cur_index = -1;
  p->margin_width = p->margin_height = -1;
  p->adjust_child_width = p->adjust_child_height = -1;
  p->child_pct_x = p->child_pct_y = -1;
  p->spacing = -1;
  p->max_rows = 99;
  p->sort_column = -1;
  p->hscroll = p->vscroll = -1;
  return w;
}

// Appends a new widget of `kind` to the array and under `parent`.
GUIWidget* Add(GUILayout* layout, GUIWidget* parent, int kind) {
  auto w = NewWidget(kind);
  GUIWidget* p = w.get();
  p->seq = static_cast<int>(layout->widgets.size());
  if (layout->widgets.size() == layout->widgets.capacity()) layout->widgets.reserve(layout->widgets.size() + 100);
  layout->widgets.push_back(std::move(w));
  if (parent) GUIAppendChild(parent, p);
  return p;
}

}  // namespace

const char* GUIKindName(int kind) {
  if (kind < 0 || kind > kGUIKindMax) return nullptr;
  return kKindNames[kind];
}

int GUIKindIsPanel(int kind) {
  switch (kind) {
    case GUI_ROOT: case GUI_HROWCOL: case GUI_VROWCOL: case GUI_TABFOLDER: case GUI_FORM:
    case GUI_GRID: case GUI_SINGLE: case GUI_OVLY: case GUI_LIST: case GUI_LISTVIEW:
    case GUI_HSPLITPANE: case GUI_VSPLITPANE: case GUI_HLBLDATA: case GUI_VLBLDATA:
    case GUI_TABFNOTIFY: case GUI_TVNOTIFY: case GUI_SCROLLWIN: case GUI_FRAME:
      return 1;
    default:
      return 0;
  }
}

GUIWidget* GUIAllocWidget(GUILayout* layout, GUIWidget* parent, int kind) {
  if (kind < 0 || kind > kGUIKindMax) {
    RVReportError("Illegal type: %d in _gnalloc()", kind);
    return nullptr;
  }
  if (parent && parent->child && (parent->kind == GUI_HSPLITPANE || parent->kind == GUI_VSPLITPANE))
    Add(layout, parent, parent->kind == GUI_HSPLITPANE ? GUI_HSPLITTER : GUI_VSPLITTER);
  return Add(layout, parent, kind);
}

void GUIUnlinkWidget(GUIWidget* w) {
  if (!w) return;
  if (w->prev) w->prev->next = w->next;
  else if (w->parent) w->parent->child = w->next;
  if (w->next) w->next->prev = w->prev;
  else if (w->parent) w->parent->last_child = w->prev;
  w->parent = w->next = w->prev = nullptr;
}

void GUIAppendChild(GUIWidget* parent, GUIWidget* w) {
  w->parent = parent;
  w->next = nullptr;
  w->prev = parent->last_child;
  if (parent->last_child) parent->last_child->next = w;
  else parent->child = w;
  parent->last_child = w;
}

int GUICheckFreeKind(const GUIWidget* w) {
  if (w && (w->kind < 0 || w->kind > kGUIKindMax)) {
    RVReportError("Illegal type in _gnfree() - Type: %d", w->kind);
    return -1;
  }
  return 0;
}

std::unique_ptr<GUILayout> GUINewLayout() {
  auto layout = std::make_unique<GUILayout>();
  GUILayout* l = layout.get();
  l->pct_x = l->pct_y = -1;
  l->x = l->y = -1;
  l->traverse = GUI_TRAVERSE_CURRENT | GUI_TRAVERSE_VISIBLE;
  l->tab_style = GUI_TABSTYLE_UNSET;
  l->root = Add(l, nullptr, GUI_ROOT);
  l->root->user_code = kGUIRootUserCode;
  return layout;
}

void GUIFreeLayout(GUILayout* layout) {
  if (!layout) return;
  for (auto& w : layout->widgets) GUICheckFreeKind(w.get());
  delete layout;
}

GUIWidget* GUINextInTree(GUIWidget* w, const GUIWidget* top) {
  if (!w) return nullptr;
  if (w->child) return w->child;
  while (w && w != top) {
    if (w->next) return w->next;
    w = w->parent;
  }
  return nullptr;
}

int GUIChildCount(const GUIWidget* w) {
  int n = 0;
  for (const GUIWidget* c = w ? w->child : nullptr; c; c = c->next) ++n;
  return n;
}

GUIWidget* GUIFindWidget(const GUILayout* layout, const char* name) {
  if (!layout || !name) return nullptr;
  for (const auto& w : layout->widgets)
    if (w->name == name) return w.get();
  return nullptr;
}

GUIKey* GUIFindKey(const GUILayout* layout, const char* name) {
  if (!layout || !name) return nullptr;
  for (GUIKey* k : layout->keys)
    if (k->name == name) return k;
  return nullptr;
}
