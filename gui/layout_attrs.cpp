// Attribute values of layout files.
#include "gui/layout_attrs.h"

#include <strings.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gui/length.h"
#include "runtime/report.h"

namespace {

// The names an attribute element may have.
const char* const kAttributeNames[] = {
    "Title", "Name", "Frame", "Format", "Label", "LabelType", "Font", "FontClass", "HeaderFontClass",
    "DetailFontClass", "DataType", "Spacing", "EqualWidth", "EqualHeight", "MarginWidth", "MarginHeight",
    "DrawSep", "Text", "AdjustChildWidth", "AdjustChildHeight", "AdjustLeft", "AdjustRight", "AdjustTop",
    "AdjustBottom", "AdjustSpacing", "GrabWidth", "GrabHeight", "Checked", "Mnemonic", "Accelerator",
    "Hidden", "Disabled", "PercentWidth", "PercentHeight", "PercentX", "PercentY", "MinPixelWidth",
    "MinPixelHeight", "PrefPixelWidth", "PrefPixelHeight", "MinWidth", "MinHeight", "PrefWidth",
    "PrefHeight", "MinCols", "MinRows", "PrefCols", "PrefRows", "Header", "MultiSel", "DisplayOnly",
    "NoEcho", "Password", "Dialog", "XPos", "YPos", "Input", "Sorted", "Traversal", "Next", "FirstInput",
    "TabGroup", "TabNext", "TabStop", "TraverseAny", "TraverseNone", "TraverseCurrent", "TraverseVisible",
    "TabStyle", "Image", "SelImage", "Expand", "BorderSize", "HScroll", "VScroll", "ChildPercentX",
    "ChildPercentY", "TabToFirst", "Row", "Col", "NumRows", "NumCols", "Justify", "HAlign", "VAlign",
    "ShowGrid", "FixedPos", "Key", "Shift", "Alt", "Control", "HStretch", "VStretch", "DataAlign",
    "Minimized", "AllowSort", "MaxRows", "IgnoreCase", "InitialSort", "PosAbsolute", "SizeAbsolute",
    "TabCloseButton", "EqualWidthTabs",
};
static_assert(sizeof kAttributeNames / sizeof kAttributeNames[0] == 103, "attribute names");

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Boolean: "True" on, "False" off, anything else unchanged.
void Bool(const char* v, int* field) {
  if (Is(v, "True")) *field = 1;
  else if (Is(v, "False")) *field = 0;
}

// Boolean that only "True" changes (the property starts off).
void BoolOn(const char* v, int* field) {
  if (Is(v, "True")) *field = 1;
}

// Integer >= 0 (negative and out-of-range values ignored).
void Count(const char* v, int* field) {
  int n;
  if (GUIParseInt(v, &n) && n >= 0) *field = n;
}

// Percent: a decimal number, negative ignored, above 100 taken as 100.
void Percent(const char* v, int* field) {
  double d;
  const char* end;
  if (!GUIParseDecimal(v, &d, &end) || d < 0) return;
  if (d > 100) d = 100;
  *field = static_cast<int>(std::floor(d));
}

// Length in pixels (horizontal or vertical); ignored when negative, not a
// number or beyond an int.
void Length(const char* v, int vertical, int* field) {
  double d;
  const char* end;
  if (!GUIParseDecimal(v, &d, &end) || d < 0 || d > INT_MAX) return;
  int px = GUILength(v, vertical);
  if (px >= 0) *field = px;
}

// Horizontal alignment word.
void HAlign(const char* v, int* field) {
  if (Is(v, "Left")) *field = GUI_ALIGN_START;
  else if (Is(v, "Center")) *field = GUI_ALIGN_CENTER;
  else if (Is(v, "Right")) *field = GUI_ALIGN_END;
}

// Vertical alignment word.
void VAlign(const char* v, int* field) {
  if (Is(v, "Top")) *field = GUI_ALIGN_START;
  else if (Is(v, "Center")) *field = GUI_ALIGN_CENTER;
  else if (Is(v, "Bottom")) *field = GUI_ALIGN_END;
}

// One traversal mode word of the layout.
void Traverse(GUILayout* l, const char* v, int mode) {
  if (Is(v, "True")) {
    if (mode == GUI_TRAVERSE_CURRENT) l->traverse = GUI_TRAVERSE_CURRENT | (l->traverse & GUI_TRAVERSE_VISIBLE);
    else l->traverse = mode;
  } else if (Is(v, "False")) {
    l->traverse &= ~mode;
  }
}

// Row and column panels (and lists), where spacing and equal sizes apply.
bool IsRowPanel(int kind) {
  return kind == GUI_HROWCOL || kind == GUI_VROWCOL || kind == GUI_HSPLITPANE || kind == GUI_VSPLITPANE ||
         kind == GUI_LIST;
}

// Attributes common to panels and data fields. 1 when `name` was one.
int SetCommon(GUILayout* layout, GUIWidget* w, const char* n, const char* v) {
  if (Is(n, "Name")) w->name = v;
  else if (Is(n, "Label")) w->label = v;
  else if (Is(n, "GrabWidth")) Count(v, &w->grab_width);
  else if (Is(n, "GrabHeight")) Count(v, &w->grab_height);
  else if (Is(n, "FontClass")) w->font_class = v;
  else if (Is(n, "MinPixelWidth")) Count(v, &w->min_px_width);
  else if (Is(n, "MinPixelHeight")) Count(v, &w->min_px_height);
  else if (Is(n, "PrefPixelWidth")) Count(v, &w->pref_px_width);
  else if (Is(n, "PrefPixelHeight")) Count(v, &w->pref_px_height);
  else if (Is(n, "MinWidth")) Length(v, 0, &w->min_px_width);
  else if (Is(n, "PrefWidth")) Length(v, 0, &w->pref_px_width);
  else if (Is(n, "MinHeight")) Length(v, 1, &w->min_px_height);
  else if (Is(n, "PrefHeight")) Length(v, 1, &w->pref_px_height);
  else if (Is(n, "MinCols")) Count(v, &w->min_cols);
  else if (Is(n, "MinRows")) Count(v, &w->min_rows);
  else if (Is(n, "PrefCols")) Count(v, &w->pref_cols);
  else if (Is(n, "PrefRows")) Count(v, &w->pref_rows);
  else if (Is(n, "Traversal")) Bool(v, &w->traversal);
  else if (Is(n, "Next")) w->next_name = v;
  else if (Is(n, "FirstInput")) {
    if (Is(v, "True")) {
      w->first_input = 1;
      layout->first_input = w;
    }
  } else if (Is(n, "TabStop")) {
    if (Is(v, "True")) w->tab_stop = w->tab_stop_set = 1;
  } else if (Is(n, "BorderSize")) Count(v, &w->border);
  else if (Is(n, "Sorted")) BoolOn(v, &w->sorted);
  else if (Is(n, "PercentWidth")) Percent(v, &w->pct_width);
  else if (Is(n, "PercentHeight")) Percent(v, &w->pct_height);
  else if (Is(n, "PercentX")) Percent(v, &w->pct_x);
  else if (Is(n, "PercentY")) Percent(v, &w->pct_y);
  else if (Is(n, "Row")) Count(v, &w->row);
  else if (Is(n, "Col")) Count(v, &w->col);
  else if (Is(n, "NumRows")) {
    int k;
    if (GUIParseInt(v, &k) && k > 0) w->num_rows = k;
  } else if (Is(n, "NumCols")) {
    int k;
    if (GUIParseInt(v, &k) && k > 0) w->num_cols = k;
  } else if (Is(n, "HAlign")) HAlign(v, &w->halign);
  else if (Is(n, "VAlign")) VAlign(v, &w->valign);
  else if (Is(n, "DataAlign")) {
    w->data_align_given = 1;
    w->data_align_off = Is(v, "True") ? 0 : 1;
  } else if (Is(n, "HStretch")) BoolOn(v, &w->hstretch);
  else if (Is(n, "VStretch")) BoolOn(v, &w->vstretch);
  else if (Is(n, "Hidden")) {
    int hidden = w->visible ? 0 : 1;
    Bool(v, &hidden);
    w->visible = w->visible_created = hidden ? 0 : 1;
  } else if (Is(n, "Disabled")) {
    Bool(v, &w->disabled);
    w->disabled_created = w->disabled;
  } else {
    return 0;
  }
  return 1;
}

// Attributes of panels.
void SetPanel(GUIWidget* w, const char* n, const char* v) {
  if (Is(n, "Title")) w->text = v;
  else if (Is(n, "Frame")) {
    if (Is(v, "Etched")) w->frame = GUI_FRAME_ETCHED;
    else if (Is(v, "Raised")) w->frame = GUI_FRAME_RAISED;
    else if (Is(v, "Simple")) w->frame = GUI_FRAME_SIMPLE;
  } else if (Is(n, "MarginWidth")) Length(v, 0, &w->margin_width);
  else if (Is(n, "MarginHeight")) Length(v, 1, &w->margin_height);
  else if (Is(n, "AdjustChildWidth")) Count(v, &w->adjust_child_width);
  else if (Is(n, "AdjustChildHeight")) Count(v, &w->adjust_child_height);
  else if (Is(n, "AdjustLeft")) Count(v, &w->adjust_left);
  else if (Is(n, "AdjustRight")) Count(v, &w->adjust_right);
  else if (Is(n, "AdjustTop")) Count(v, &w->adjust_top);
  else if (Is(n, "AdjustBottom")) Count(v, &w->adjust_bottom);
  else if (Is(n, "AdjustSpacing")) Count(v, &w->adjust_spacing);
  else if (Is(n, "TabGroup")) Bool(v, &w->tab_group);
  else if (Is(n, "TabToFirst")) Bool(v, &w->tab_to_first);
  else if (Is(n, "TabNext")) w->tab_next_name = v;
  else if (Is(n, "ShowGrid")) Bool(v, &w->show_grid);
  else if (IsRowPanel(w->kind) && Is(n, "EqualWidth")) BoolOn(v, &w->equal_width);
  else if (IsRowPanel(w->kind) && Is(n, "EqualHeight")) BoolOn(v, &w->equal_height);
  else if (IsRowPanel(w->kind) && Is(n, "DrawSep")) BoolOn(v, &w->draw_sep);
  else if (IsRowPanel(w->kind) && Is(n, "Spacing"))
    Length(v, (w->kind == GUI_HROWCOL || w->kind == GUI_HSPLITPANE) ? 0 : 1, &w->spacing);
  else if (Is(n, "ChildPercentX")) Percent(v, &w->child_pct_x);
  else if (Is(n, "ChildPercentY")) Percent(v, &w->child_pct_y);
  else if (w->kind == GUI_TABFOLDER && Is(n, "TabCloseButton")) {
    if (Is(v, "All")) w->tab_close = GUI_TABCLOSE_ALL;
    else if (Is(v, "Current")) w->tab_close = GUI_TABCLOSE_CURRENT;
    else if (Is(v, "None")) w->tab_close = GUI_TABCLOSE_NONE;
    else RVReportError("Invalid Value: %s for \"TabCloseButton\" - Ignored", v);
  } else if (w->kind == GUI_TABFOLDER && Is(n, "EqualWidthTabs")) Bool(v, &w->equal_width_tabs);
  else if (w->kind == GUI_FORM && Is(n, "FixedPos")) Bool(v, &w->fixed_pos);
  else if (w->kind == GUI_LIST && Is(n, "Header")) w->header = v;
  else if (w->kind == GUI_LIST && Is(n, "HeaderFontClass")) w->header_font_class = v;
  else if (w->kind == GUI_LIST && Is(n, "DetailFontClass")) w->detail_font_class = v;
  else if ((w->kind == GUI_LIST || w->kind == GUI_LISTVIEW) && Is(n, "MultiSel")) BoolOn(v, &w->multi_sel);
  else if (w->kind == GUI_LISTVIEW && Is(n, "MaxRows")) Count(v, &w->max_rows);
  else if (w->kind == GUI_SCROLLWIN && Is(n, "HScroll")) {
    int on = w->hscroll > 0 ? 1 : 0;
    Bool(v, &on);
    if (Is(v, "True") || Is(v, "False")) w->hscroll = on;
  } else if (w->kind == GUI_SCROLLWIN && Is(n, "VScroll")) {
    int on = w->vscroll > 0 ? 1 : 0;
    Bool(v, &on);
    if (Is(v, "True") || Is(v, "False")) w->vscroll = on;
  }
}

// Attributes of data fields.
void SetField(GUIWidget* w, const char* n, const char* v, std::string* problem) {
  if (Is(n, "Text")) w->text = v;
  else if (Is(n, "Format")) w->format = v;
  else if (Is(n, "DataType")) {
    if (Is(v, "Alpha")) w->data_type = GUI_DT_ALPHA;
    else if (Is(v, "Integer")) w->data_type = GUI_DT_INTEGER;
    else if (Is(v, "Decimal") || Is(v, "Float")) w->data_type = GUI_DT_DECIMAL;
    else if (Is(v, "Date")) w->data_type = GUI_DT_DATE;
    else if (Is(v, "Time")) w->data_type = GUI_DT_TIME;
    else if (Is(v, "Choice")) w->data_type = GUI_DT_CHOICE;
    else {
      char msg[512];
      std::snprintf(msg, sizeof msg, "Illegal DataType: %.400s", v);
      *problem = msg;
    }
  } else if (Is(n, "LabelType")) {
    if (Is(v, "Top")) w->label_top = 1;
  } else if (Is(n, "Justify")) {
    if (Is(v, "Left")) w->justify = GUI_ALIGN_START;
    else if (Is(v, "Right")) w->justify = GUI_ALIGN_END;
  } else if (Is(n, "LeftText")) BoolOn(v, &w->left_text);
  else if (Is(n, "DisplayOnly")) {
    if (Is(v, "True")) {
      w->display_only = 1;
      w->traversal = w->input = 0;
    }
  } else if (Is(n, "NoEcho")) BoolOn(v, &w->no_echo);
  else if (Is(n, "Password")) BoolOn(v, &w->password);
  else if (Is(n, "Checked")) BoolOn(v, &w->checked);
  else if (w->kind == GUI_OPTMENU && Is(n, "Input")) BoolOn(v, &w->input);
  else if (Is(n, "AllowSort")) BoolOn(v, &w->allow_sort);
  else if (Is(n, "IgnoreCase")) BoolOn(v, &w->ignore_case);
  else if (Is(n, "InitialSort")) w->initial_sort = v;
}

}  // namespace

int GUIIsAttributeName(const char* name) {
  for (const char* a : kAttributeNames)
    if (Is(a, name)) return 1;
  return 0;
}

int GUIParseInt(const char* text, int* out) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return 0;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return 0;
  *out = static_cast<int>(v);
  return 1;
}

void GUISetLayoutAttr(GUILayout* l, const char* n, const char* v, std::string*) {
  if (!v || !*v) return;
  if (Is(n, "Title")) l->title = v;
  else if (Is(n, "Name")) l->name = v;
  else if (Is(n, "Font")) l->font_set = v;
  else if (Is(n, "Dialog")) BoolOn(v, &l->dialog);
  else if (Is(n, "XPos")) Length(v, 0, &l->x);
  else if (Is(n, "YPos")) Length(v, 0, &l->y);
  else if (Is(n, "PercentWidth")) Percent(v, &l->pct_width);
  else if (Is(n, "PercentHeight")) Percent(v, &l->pct_height);
  else if (Is(n, "PercentX")) Percent(v, &l->pct_x);
  else if (Is(n, "PercentY")) Percent(v, &l->pct_y);
  else if (Is(n, "TraverseAny")) Traverse(l, v, GUI_TRAVERSE_ANY);
  else if (Is(n, "TraverseNone")) Traverse(l, v, GUI_TRAVERSE_NONE);
  else if (Is(n, "TraverseCurrent")) Traverse(l, v, GUI_TRAVERSE_CURRENT);
  else if (Is(n, "TraverseVisible")) Traverse(l, v, GUI_TRAVERSE_VISIBLE);
  else if (Is(n, "TabStyle")) {
    if (Is(v, "Visible")) l->tab_style = GUI_TABSTYLE_VISIBLE;
    else if (Is(v, "Any")) l->tab_style = GUI_TABSTYLE_ANY;
    else if (Is(v, "Current")) l->tab_style = GUI_TABSTYLE_CURRENT;
    else if (Is(v, "None")) l->tab_style = GUI_TABSTYLE_NONE;
    else if (Is(v, "All")) l->tab_style = GUI_TABSTYLE_ALL;
  } else if (Is(n, "TabToFirst")) Bool(v, &l->tab_to_first);
  else if (Is(n, "Hidden")) BoolOn(v, &l->hidden);
  else if (Is(n, "Minimized")) BoolOn(v, &l->minimized);
  else if (Is(n, "PosAbsolute")) BoolOn(v, &l->pos_absolute);
  else if (Is(n, "SizeAbsolute")) BoolOn(v, &l->size_absolute);
}

void GUISetWidgetAttr(GUILayout* layout, GUIWidget* w, const char* n, const char* v, std::string* problem) {
  if (!v || !*v) return;
  if (SetCommon(layout, w, n, v)) return;
  if (w->is_data) SetField(w, n, v, problem);
  else SetPanel(w, n, v);
}

void GUISetItemAttr(GUIItem* item, const char* n, const char* v) {
  if (!v || !*v) return;
  if (Is(n, "Text")) item->text = v;
  else if (Is(n, "Default")) BoolOn(v, &item->is_default);
}

void GUISetMenuAttr(GUIMenu* m, const char* n, const char* v) {
  if (!v || !*v) return;
  if (Is(n, "Name")) m->name = v;
  else if (Is(n, "Text")) m->text = v;
  else if (Is(n, "Mnemonic")) m->mnemonic = static_cast<unsigned char>(v[0]);
}

void GUISetMenuItemAttr(GUIMenuItem* mi, const char* n, const char* v) {
  if (!v || !*v) return;
  if (Is(n, "Name")) mi->name = v;
  else if (Is(n, "Text")) mi->text = v;
  else if (Is(n, "Type")) {
    if (mi->type == GUI_MI_SUBMENU) return;
    if (Is(v, "Command")) mi->type = GUI_MI_COMMAND;
    else if (Is(v, "Label")) mi->type = GUI_MI_LABEL;
    else if (Is(v, "Separator")) mi->type = GUI_MI_SEPARATOR;
    else if (Is(v, "Checkbox")) mi->type = GUI_MI_CHECKBOX;
  } else if (Is(n, "Accelerator")) mi->accelerator = v;
  else if (Is(n, "Mnemonic")) mi->mnemonic = static_cast<unsigned char>(v[0]);
  else if (Is(n, "Checked")) BoolOn(v, &mi->checked);
  else if (Is(n, "Hidden")) BoolOn(v, &mi->hidden);
  else if (Is(n, "Disabled")) BoolOn(v, &mi->disabled);
}

void GUISetTreeItemAttr(GUITreeItem* t, const char* n, const char* v) {
  if (!v || !*v) return;
  if (Is(n, "Label")) t->label = v;
  else if (Is(n, "Name")) t->name = v;
  else if (Is(n, "Image")) t->image = v;
  else if (Is(n, "SelImage")) t->sel_image = v;
  else if (Is(n, "Expand")) BoolOn(v, &t->expand);
}

void GUISetKeyAttr(GUIKey* k, const char* n, const char* v) {
  if (!v || !*v) return;
  if (Is(n, "Key")) k->key = v;
  else if (Is(n, "Name")) k->name = v;
  else if (Is(n, "Text")) k->text = v;
  else if (Is(n, "Shift")) BoolOn(v, &k->shift);
  else if (Is(n, "Alt")) BoolOn(v, &k->alt);
  else if (Is(n, "Control")) BoolOn(v, &k->control);
}

void GUIParseKey(GUIKey* k) {
  static const struct {
    const char* name;
    int code;
  } kNamed[] = {
      {"CANCEL", GUI_KEY_CANCEL}, {"BACK", GUI_KEY_BACK},     {"TAB", GUI_KEY_TAB},
      {"ESCAPE", GUI_KEY_ESCAPE}, {"NEXT", GUI_KEY_NEXT},     {"END", GUI_KEY_END},
      {"HOME", GUI_KEY_HOME},     {"LEFT", GUI_KEY_LEFT},     {"UP", GUI_KEY_UP},
      {"RIGHT", GUI_KEY_RIGHT},   {"DOWN", GUI_KEY_DOWN},     {"PRINT", GUI_KEY_PRINT},
      {"INSERT", GUI_KEY_INSERT}, {"DELETE", GUI_KEY_DELETE}, {"HELP", GUI_KEY_HELP},
  };
  const std::string& s = k->key;
  k->valid = 0;
  k->is_char = 0;
  k->code = 0;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
  if (s.size() == 2 && s[0] == '^' && letter(s[1])) {
    k->code = upper(s[1]) - 64;
    k->is_char = k->valid = 1;
    return;
  }
  if (s.size() == 1 && letter(s[0])) {
    k->code = upper(s[0]);
    k->valid = 1;
    return;
  }
  if ((s.size() == 2 || s.size() == 3) && (s[0] == 'F' || s[0] == 'f')) {
    int n = 0;
    bool digits = true;
    for (size_t i = 1; i < s.size(); ++i) {
      if (s[i] < '0' || s[i] > '9') digits = false;
      else n = n * 10 + (s[i] - '0');
    }
    if (digits && s[1] != '0' && n >= 1 && n <= 24) {
      k->code = GUI_KEY_F1 + n - 1;
      k->valid = 1;
      return;
    }
  }
  for (const auto& named : kNamed) {
    if (Is(s.c_str(), named.name)) {
      k->code = named.code;
      k->valid = 1;
      return;
    }
  }
  if (s.size() == 1) {
    k->code = static_cast<unsigned char>(s[0]);
    k->is_char = k->valid = 1;
  }
}
