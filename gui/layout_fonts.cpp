// Fonts of a widget tree.
#include "gui/fonts.h"
#include "gui/geometry.h"

namespace {

// The default font class of a kind, or null.
const char* KindClass(int kind) {
  switch (kind) {
    case GUI_TABFOLDER: return "tabf";
    case GUI_LIST: return "list";
    case GUI_LISTVIEW: case GUI_LVCOL: return "listview";
    case GUI_TEXT: return "text";
    case GUI_LABEL: return "label";
    case GUI_PUSHB: return "pushb";
    case GUI_CHECKBOX: return "checkbox";
    case GUI_RBGROUP: return "rbgroup";
    case GUI_OPTMENU: return "optmenu";
    case GUI_LISTHDR: return "listhdr";
    case GUI_LISTDET: return "listdet";
    case GUI_TREEVIEW: return "treeview";
    case GUI_FRAME: return "pnltitle";
    default: return nullptr;
  }
}

}  // namespace

void GUIAssignFonts(GUILayout* layout) {
  if (!layout) return;
  const char* set = layout->font_set.empty() ? "default" : layout->font_set.c_str();
  for (auto& wp : layout->widgets) {
    GUIWidget* w = wp.get();
    if (w->font) continue;
    if (!w->font_class.empty()) w->font = GUIGetFont(w->font_class.c_str(), set, 0);
    const char* cls = KindClass(w->kind);
    if (!w->font && cls) w->font = GUIGetFont(cls, set, 0);
    if (!w->font && (w->kind == GUI_LISTHDR || w->kind == GUI_LISTDET)) w->font = GUIGetFont("list", set, 0);
    if (!w->font) w->font = GUIGetFont("default", set, 1);
  }
}
