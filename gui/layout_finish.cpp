// Completing the records of a layout.
#include "gui/layout_finish.h"

#include <cstdio>
#include <unordered_map>

#include "gui/layout_attrs.h"
#include "runtime/report.h"

namespace {

// The name a widget has or will get by default.
std::string NameOf(const GUIWidget* w) {
  if (!w->name.empty()) return w->name;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s_%d", GUIKindName(w->kind), w->seq);
  return buf;
}

// Puts `box` in the place of `w` under w's parent (w is then unlinked).
void Replace(GUIWidget* w, GUIWidget* box) {
  box->parent = w->parent;
  box->prev = w->prev;
  box->next = w->next;
  if (w->prev) w->prev->next = box;
  else if (w->parent) w->parent->child = box;
  if (w->next) w->next->prev = box;
  else if (w->parent) w->parent->last_child = box;
  w->parent = w->prev = w->next = nullptr;
}

// Moves a labelled field into its container.
void MakeLabelled(GUILayout* layout, GUIWidget* w) {
  bool top = w->label_top != 0;
  GUIWidget* box = GUIAllocWidget(layout, nullptr, top ? GUI_VLBLDATA : GUI_HLBLDATA);
  GUIWidget* label = GUIAllocWidget(layout, nullptr, GUI_LABEL);
  Replace(w, box);
  GUIAppendChild(box, label);
  GUIAppendChild(box, w);
  box->pct_x = w->pct_x;
  box->pct_y = w->pct_y;
  box->border = w->border;
  w->pct_x = w->pct_y = -1;
  w->border = 0;
  box->hstretch = box->vstretch = 1;
  box->spacing = top ? 3 : 5;
  box->margin_width = box->margin_height = 0;
  box->adjust_child_width = box->adjust_child_height = 0;
  box->visible = box->visible_created = w->visible;
  box->data_align_given = w->data_align_given;
  box->data_align_off = w->data_align_off;
  if (w->kind == GUI_HSEP && !(w->data_align_given && !w->data_align_off)) box->data_align_off = 1;
  label->text = w->label;
  bool sep = w->kind == GUI_HSEP || w->kind == GUI_VSEP;
  label->font_class = sep ? (w->kind == GUI_HSEP ? "hsep" : "vsep") : (top ? "toplabel" : "sidelabel");
  label->visible = label->visible_created = w->visible;
  if (top) {
    label->halign = GUI_ALIGN_START;
    label->justify = GUI_ALIGN_START;
    label->valign = GUI_ALIGN_END;
    if (w->valign == GUI_ALIGN_UNSET) w->valign = GUI_ALIGN_START;
  } else {
    label->halign = GUI_ALIGN_END;
    label->valign = GUI_ALIGN_CENTER;
    if (w->halign == GUI_ALIGN_UNSET) w->halign = GUI_ALIGN_START;
  }
}

// Completes a List panel with its header and rows widgets.
void CompleteList(GUILayout* layout, GUIWidget* w) {
  if (!w->header.empty()) {
    GUIWidget* hdr = GUIAllocWidget(layout, w, GUI_LISTHDR);
    hdr->text = w->header;
    hdr->font_class = !w->header_font_class.empty() ? w->header_font_class : w->font_class;
  }
  GUIWidget* det = GUIAllocWidget(layout, w, GUI_LISTDET);
  det->font_class = !w->detail_font_class.empty() ? w->detail_font_class : w->font_class;
  det->traversal = w->traversal;
  det->input = w->input;
  det->tab_stop = w->tab_stop;
  det->tab_stop_set = w->tab_stop_set;
  det->sorted = w->sorted;
  det->next_name = w->next_name;
  det->multi_sel = w->multi_sel;
  w->traversal = 0;
  w->tab_stop = 0;
  w->next_name.clear();
  if (layout->first_input == w) {
    layout->first_input = det;
    det->first_input = 1;
  }
  det->rows = std::move(w->rows);
  w->rows.clear();
  det->min_rows = w->min_rows < 1 ? 1 : w->min_rows;
  det->pref_rows = w->pref_rows > 0 ? w->pref_rows : 20;
  if (det->pref_rows < det->min_rows) det->pref_rows = det->min_rows;
  det->min_cols = w->min_cols > 0 ? w->min_cols : (w->pref_cols > 0 ? w->pref_cols : 20);
  det->pref_cols = w->pref_cols > 0 ? w->pref_cols : 20;
  if (det->pref_cols < det->min_cols) det->pref_cols = det->min_cols;
}

// Links a ring in the order of `v`.
template <typename Next, typename Prev>
void Ring(const std::vector<GUIWidget*>& v, Next next, Prev prev) {
  for (size_t i = 0; i < v.size(); ++i) {
    GUIWidget* n = v[(i + 1) % v.size()];
    next(v[i]) = n;
    prev(n) = v[i];
  }
}

}  // namespace

void GUIEndField(GUILayout* layout, GUIWidget* w) {
  switch (w->kind) {
    case GUI_LABEL: case GUI_PUSHB: case GUI_CHECKBOX:
      if (w->text.empty()) w->text = !w->name.empty() ? w->name : GUIKindName(w->kind);
      break;
    case GUI_RBGROUP:
      if (w->text.empty()) {
        if (!w->label.empty()) {
          w->text = w->label;
          w->label.clear();
        } else {
          w->text = !w->name.empty() ? w->name : "RBGroup";
        }
      }
      break;
    default:
      break;
  }
  bool labelled_kind = w->kind == GUI_TEXT || w->kind == GUI_LABEL || w->kind == GUI_OPTMENU ||
                       w->kind == GUI_HSEP || w->kind == GUI_VSEP;
  if (labelled_kind && !w->label.empty() && w->parent) MakeLabelled(layout, w);
}

void GUIEndPanel(GUILayout* layout, GUIWidget* w, std::string*) {
  if (w->kind == GUI_SINGLE || w->kind == GUI_SCROLLWIN) {
    if (w->child && w->child->is_panel) {
      if (w->adjust_child_width < 0) w->adjust_child_width = 100 - w->adjust_right - w->adjust_left;
      if (w->adjust_child_height < 0) w->adjust_child_height = 100 - w->adjust_bottom - w->adjust_top;
    }
  }
  if (w->kind == GUI_LIST) {
    if (w->adjust_child_width < 0) w->adjust_child_width = 100;
    if (w->adjust_child_height < 0) w->adjust_child_height = 100;
  }
  if (w->adjust_child_width < 0) w->adjust_child_width = 0;
  if (w->adjust_child_height < 0) w->adjust_child_height = 0;
  bool framed = !w->text.empty() || w->frame != GUI_FRAME_NONE;
  if (w->margin_width < 0) w->margin_width = framed ? 3 : 0;
  if (w->margin_height < 0) w->margin_height = framed ? 3 : 0;
  if (w->spacing < 0)
    w->spacing = (w->kind == GUI_HROWCOL || w->kind == GUI_VROWCOL || w->kind == GUI_LIST) ? 3 : 0;
  if (w->kind == GUI_LISTVIEW) {
    for (GUIWidget* c = w->child; c; c = c->next) {
      if (c->kind != GUI_LVCOL) {
        RVReportError("Illegal Child Type for ListView: %s", NameOf(w).c_str());
        break;
      }
    }
  }
  if (w->kind == GUI_LIST) CompleteList(layout, w);
}

void GUIEndKey(GUILayout* layout, GUIKey* key) {
  if (key->key.empty()) {
    auto& owned = layout->keys_owned;
    for (size_t i = owned.size(); i-- > 0;) {
      if (owned[i].get() == key) {
        owned.erase(owned.begin() + static_cast<long>(i));
        break;
      }
    }
    return;
  }
  if (key->text.empty()) {
    std::string t;
    if (key->control) t += "Ctrl+";
    if (key->alt) t += "Alt+";
    if (key->shift) t += "Shift+";
    key->text = t + key->key;
  }
  GUIParseKey(key);
}

void GUIFinishLayout(GUILayout* layout) {
  // Keys: newest first.
  layout->keys.clear();
  for (size_t i = layout->keys_owned.size(); i-- > 0;) layout->keys.push_back(layout->keys_owned[i].get());
  for (size_t i = 0; i < layout->keys.size(); ++i) {
    GUIKey* k = layout->keys[i];
    k->index = static_cast<int>(i);
    k->command = kGUICommandBase + k->index;
    if (k->name.empty()) k->name = k->key;
  }
  std::unordered_map<std::string, GUIKey*> keys;
  for (GUIKey* k : layout->keys) keys.emplace(k->name, k);
  // Menu items: file order.
  layout->menu_items.clear();
  for (auto& mi : layout->menu_items_owned) {
    mi->index = static_cast<int>(layout->menu_items.size());
    mi->command = kGUICommandBase + mi->index;
    auto it = mi->accelerator.empty() ? keys.end() : keys.find(mi->accelerator);
    mi->key = it == keys.end() ? nullptr : it->second;
    layout->menu_items.push_back(mi.get());
  }
  // Names.
  for (auto& w : layout->widgets)
    if (w->name.empty()) w->name = NameOf(w.get());
  std::unordered_map<std::string, GUIWidget*> by_name;
  for (auto& w : layout->widgets) by_name.emplace(w->name, w.get());
  // Traversal ring, tab groups, tab stops.
  std::vector<GUIWidget*> ring, groups;
  int tab_stops = 0;
  for (GUIWidget* w = layout->root; w; w = GUINextInTree(w, layout->root)) {
    if (w->traversal) ring.push_back(w);
    if (w->is_panel && w->tab_group) groups.push_back(w);
    if (w->tab_stop) ++tab_stops;
    GUIWidget* g = w->is_panel && w->tab_group ? w : nullptr;
    for (GUIWidget* p = w->parent; !g && p; p = p->parent)
      if (p->tab_group) g = p;
    w->group = g;
  }
  if (!ring.empty())
    Ring(ring, [](GUIWidget* w) -> GUIWidget*& { return w->trav_next; },
         [](GUIWidget* w) -> GUIWidget*& { return w->trav_prev; });
  for (GUIWidget* w : ring) {
    if (w->next_name.empty()) continue;
    auto it = by_name.find(w->next_name);
    if (it == by_name.end() || !it->second->traversal) continue;
    w->trav_next = it->second;
    it->second->trav_prev = w;
  }
  if (!groups.empty())
    Ring(groups, [](GUIWidget* w) -> GUIWidget*& { return w->tab_next; },
         [](GUIWidget* w) -> GUIWidget*& { return w->tab_prev; });
  for (GUIWidget* w : groups) {
    if (w->tab_next_name.empty()) continue;
    auto it = by_name.find(w->tab_next_name);
    if (it == by_name.end() || !it->second->tab_group) continue;
    w->tab_next = it->second;
    it->second->tab_prev = w;
  }
  if (layout->tab_style == GUI_TABSTYLE_UNSET) {
    if (groups.size() >= 2) layout->tab_style = GUI_TABSTYLE_VISIBLE;
    else if (tab_stops == 1) layout->tab_style = GUI_TABSTYLE_NONE;
    else layout->tab_style = GUI_TABSTYLE_CURRENT;
  }
}
