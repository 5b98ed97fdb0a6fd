// Sizes of widgets: the bottom-up pass and the kind table.
#include "gui/geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "gui/fonts.h"
#include "gui/geometry_internal.h"
#include "runtime/report.h"

namespace {

int Line(const GUIWidget* w) { return w->font ? w->font->metrics.line_height : 16; }

int TextW(const GUIWidget* w, const std::string& s) { return GUITextWidth(w->font, s.data(), s.size()); }

int TextW(const GUIFont* f, const std::string& s) { return GUITextWidth(f, s.data(), s.size()); }

bool Numeric(const GUIWidget* w) {
  return w->data_type == GUI_DT_INTEGER || w->data_type == GUI_DT_DECIMAL || w->data_type == GUI_DT_DATE ||
         w->data_type == GUI_DT_TIME;
}

int Chars(const GUIWidget* w, int n) { return GUICharsWidth(w->font, n, Numeric(w) ? 1 : 0); }

int CeilDiv(long long a, long long b) { return b <= 0 ? 0 : static_cast<int>((a + b - 1) / b); }

int Clamp(long long v) { return v > INT_MAX / 4 ? INT_MAX / 4 : (v < 0 ? 0 : static_cast<int>(v)); }

void SetBoth(GUIWidget* w, int width, int height) {
  w->min_width = w->pref_width = width;
  w->min_height = w->pref_height = height;
}

// The default format of a field without Format.
std::string DefaultFormat(const GUIWidget* w) {
  switch (w->data_type) {
    case GUI_DT_INTEGER: return ">>,>>9-";
    case GUI_DT_DECIMAL: return ">>>,>>>,>>9.99-";
    case GUI_DT_DATE: return "mm/dd/yyyy";
    case GUI_DT_TIME: return "HH:mm:ss";
    case GUI_DT_CHOICE: return "Yes:No";
    default: return "x(" + std::to_string(w->text.empty() ? 20 : w->text.size()) + ")";
  }
}

// Settles a data field's format, maximum length and choice list.
void SettleFormat(GUIWidget* w) {
  if (w->format.empty()) w->format = DefaultFormat(w);
  w->max_len = GUIFormatLength(w->format.c_str(), w->data_type);
  if (w->data_type == GUI_DT_CHOICE) {
    w->choices.clear();
    if (!w->items.empty()) {
      for (const GUIItem& it : w->items) w->choices.push_back(it.text);
    } else {
      size_t b = 0;
      const std::string& f = w->format;
      while (b <= f.size()) {
        size_t e = f.find(':', b);
        if (e == std::string::npos) e = f.size();
        w->choices.push_back(f.substr(b, e - b));
        b = e + 1;
      }
    }
    if (!w->items.empty()) {
      size_t longest = 0;
      for (const auto& c : w->choices) longest = std::max(longest, c.size());
      if (static_cast<int>(longest) > w->max_len) w->max_len = static_cast<int>(longest);
    }
  }
}

// The panel overhead: insets and overheads from margins, frame, title and
// tab folder.
void Overhead(GUIWidget* w) {
  int mw = std::max(0, w->margin_width), mh = std::max(0, w->margin_height);
  w->inset_left = mw;
  w->inset_top = mh;
  w->over_h = 2 * mw;
  w->over_v = 2 * mh;
  w->title_width = 0;
  if (w->frame != GUI_FRAME_NONE) {
    w->inset_left += 2;
    w->inset_top += 2;
    w->over_h += 4;
    w->over_v += 4;
  }
  bool titled = !w->text.empty() && w->kind != GUI_HLBLDATA && w->kind != GUI_VLBLDATA && w->kind != GUI_ROOT;
  if (titled) {
    GUIFont* f = GUIPanelTitleFont();
    int add = f->metrics.line_height - (w->frame != GUI_FRAME_NONE ? 2 : 0) - std::min(mh, f->metrics.descent);
    add = std::max(0, add);
    w->inset_top += add;
    w->over_v += add;
    w->title_width = TextW(f, w->text) + (w->frame != GUI_FRAME_NONE ? 22 : 20);
  }
  if (w->kind == GUI_TABFOLDER) {
    w->inset_top += Line(w) + 6;
    w->over_v += Line(w) + 6;
  }
}

// The label and the field of a labelled container.
GUIWidget* LabelOf(const GUIWidget* box) { return box->child; }
GUIWidget* FieldOf(const GUIWidget* box) { return box->child ? box->child->next : nullptr; }

bool Aligned(const GUIWidget* c) { return GUIAlignedLabel(c); }

// Row and column panels: sizes along and across, labelled data alignment.
void RowColSize(GUIWidget* w, bool horizontal, const PlatScreenMeasures*) {
  int count = 0;
  long long sum_min = 0, sum_pref = 0;
  int max_min_along = 0, max_pref_along = 0, max_min_across = 0, max_pref_across = 0;
  // Shared labels.
  int label_share = 0, top_share = 0, top_data_min = 0, top_data_pref = 0;
  int side_data_min = 0, side_data_pref = 0;
  bool any_side = false, any_top = false;
  for (GUIWidget* c = w->child; c; c = c->next) {
    if (!horizontal && Aligned(c)) {
      any_side = true;
      label_share = std::max(label_share, LabelOf(c)->pref_width);
      side_data_min = std::max(side_data_min, FieldOf(c)->min_width);
      side_data_pref = std::max(side_data_pref, FieldOf(c)->pref_width);
    }
    if (horizontal && c->kind == GUI_VLBLDATA && FieldOf(c)) {
      any_top = true;
      top_share = std::max(top_share, LabelOf(c)->pref_height);
      top_data_min = std::max(top_data_min, FieldOf(c)->min_height);
      top_data_pref = std::max(top_data_pref, FieldOf(c)->pref_height);
    }
  }
  w->label_share = horizontal ? top_share : label_share;
  for (GUIWidget* c = w->child; c; c = c->next) {
    ++count;
    int min_along = horizontal ? c->min_width : c->min_height;
    int pref_along = horizontal ? c->pref_width : c->pref_height;
    int min_across = horizontal ? c->min_height : c->min_width;
    int pref_across = horizontal ? c->pref_height : c->pref_width;
    if (!horizontal && Aligned(c)) min_across = pref_across = 0;  // counted with the shared label
    if (horizontal && c->kind == GUI_VLBLDATA && FieldOf(c)) min_across = pref_across = 0;
    sum_min += min_along;
    sum_pref += pref_along;
    max_min_along = std::max(max_min_along, min_along);
    max_pref_along = std::max(max_pref_along, pref_along);
    max_min_across = std::max(max_min_across, min_across);
    max_pref_across = std::max(max_pref_across, pref_across);
    if (!horizontal && Aligned(c)) c->label_share = label_share;
    if (horizontal && c->kind == GUI_VLBLDATA) c->label_share = top_share;
  }
  bool equal = horizontal ? w->equal_width : w->equal_height;
  if (equal) {
    sum_min = static_cast<long long>(max_min_along) * count;
    sum_pref = static_cast<long long>(max_pref_along) * count;
  }
  long long gaps = count > 1 ? static_cast<long long>(w->spacing) * (count - 1) : 0;
  int along_over = horizontal ? w->over_h : w->over_v;
  int across_over = horizontal ? w->over_v : w->over_h;
  int min_along = Clamp(sum_min + gaps + along_over), pref_along = Clamp(sum_pref + gaps + along_over);
  if (any_side) {
    max_min_across = std::max(max_min_across, label_share + 5 + side_data_min);
    max_pref_across = std::max(max_pref_across, label_share + 5 + side_data_pref);
  }
  if (any_top) {
    max_min_across = std::max(max_min_across, top_share + 3 + top_data_min);
    max_pref_across = std::max(max_pref_across, top_share + 3 + top_data_pref);
  }
  int min_across = Clamp(static_cast<long long>(max_min_across) + across_over);
  int pref_across = Clamp(static_cast<long long>(max_pref_across) + across_over);
  if (horizontal) {
    w->min_width = min_along, w->pref_width = pref_along, w->min_height = min_across, w->pref_height = pref_across;
  } else {
    w->min_height = min_along, w->pref_height = pref_along, w->min_width = min_across, w->pref_width = pref_across;
  }
}

// Largest child plus overhead.
void LargestChild(GUIWidget* w) {
  int mw = 0, mh = 0, pw = 0, ph = 0;
  for (GUIWidget* c = w->child; c; c = c->next) {
    mw = std::max(mw, c->min_width), mh = std::max(mh, c->min_height);
    pw = std::max(pw, c->pref_width), ph = std::max(ph, c->pref_height);
  }
  w->min_width = mw + w->over_h, w->pref_width = pw + w->over_h;
  w->min_height = mh + w->over_v, w->pref_height = ph + w->over_v;
}

void GridSize(GUIWidget* w) {
  long long mw = 0, mh = 0, pw = 0, ph = 0;
  for (GUIWidget* c = w->child; c; c = c->next) {
    int px = c->pct_width < 0 ? 100 : c->pct_width;
    int py = c->pct_height < 0 ? 100 : c->pct_height;
    if (px > 0) {
      mw = std::max(mw, static_cast<long long>(c->min_width) * 100 / px);
      pw = std::max(pw, static_cast<long long>(c->pref_width) * 100 / px);
    }
    if (py > 0) {
      mh = std::max(mh, static_cast<long long>(c->min_height) * 100 / py);
      ph = std::max(ph, static_cast<long long>(c->pref_height) * 100 / py);
    }
  }
  w->min_width = Clamp(mw + w->over_h), w->pref_width = Clamp(pw + w->over_h);
  w->min_height = Clamp(mh + w->over_v), w->pref_height = Clamp(ph + w->over_v);
}

void ScrollSize(GUIWidget* w, const PlatScreenMeasures* s) {
  LargestChild(w);
  bool hs = w->hscroll > 0, vs = w->vscroll > 0;
  if (w->hscroll < 0 && w->vscroll < 0) hs = vs = true;
  if (hs) w->min_width = w->min_width / 4;
  else if (vs) w->min_width += s->vscroll_width, w->pref_width += s->vscroll_width;
  if (vs) w->min_height = w->min_height / 4;
  else if (hs) w->min_height += s->hscroll_height, w->pref_height += s->hscroll_height;
}

void LabelledSize(GUIWidget* w) {
  GUIWidget* label = LabelOf(w);
  GUIWidget* field = FieldOf(w);
  if (!label || !field) return LargestChild(w);
  if (w->kind == GUI_HLBLDATA) {
    w->min_width = label->pref_width + w->spacing + field->min_width;
    w->pref_width = label->pref_width + w->spacing + field->pref_width;
    w->min_height = std::max(label->min_height, field->min_height);
    w->pref_height = std::max(label->pref_height, field->pref_height);
  } else {
    w->min_height = label->pref_height + w->spacing + field->min_height;
    w->pref_height = label->pref_height + w->spacing + field->pref_height;
    w->min_width = std::max(label->min_width, field->min_width);
    w->pref_width = std::max(label->pref_width, field->pref_width);
  }
}

void ListViewSize(GUIWidget* w, const PlatScreenMeasures* s) {
  long long cols = 0;
  for (GUIWidget* c = w->child; c; c = c->next) cols += c->pref_width;
  int frame_w = 2 * s->edge_width + s->vscroll_width;
  w->pref_width = Clamp(cols + w->over_h + frame_w);
  w->min_width = std::min(Clamp((cols + frame_w) / 4 + w->over_h), s->work_area.width / 4);
  int line = Line(w);
  int frame_h = 2 * s->edge_height + s->hscroll_height + 4;
  int min_rows = std::max(3, w->min_rows);
  int pref_rows = w->pref_rows > 0 ? w->pref_rows : std::max(w->max_rows, w->min_rows);
  pref_rows = std::max(pref_rows, w->min_rows);
  int row_h = line + 2 * s->border_height;
  w->min_height = Clamp(frame_h + line + w->over_v + static_cast<long long>(min_rows - 1) * row_h);
  w->pref_height = Clamp(frame_h + line + w->over_v + static_cast<long long>(std::max(0, pref_rows - 1)) * row_h);
}

// The kind's own minimum and preferred size. 0, or -1 for a bad kind.
int KindSize(GUIWidget* w, const PlatScreenMeasures* s) {
  int line = Line(w);
  int edges_w = 2 * s->edge_width, edges_h = 2 * s->edge_height;
  switch (w->kind) {
    case GUI_TEXT: {
      int lines = w->num_rows > 0 ? w->num_rows : 1;
      int maxlen = w->max_len > 0 ? w->max_len : 20;
      int cols = w->num_cols > 0 ? w->num_cols : CeilDiv(maxlen, lines);
      int width = Chars(w, cols) + 4 * s->border_width + edges_w;
      w->scroll_bar = lines > 1 ? 1 : 0;
      if (lines > 1 && static_cast<long long>(lines) * cols < maxlen) width += s->vscroll_width;
      SetBoth(w, width, Clamp(static_cast<long long>(lines) * line + edges_h + 2 * s->border_height));
      return 0;
    }
    case GUI_LABEL: {
      if (w->text.empty()) w->text = "DefLabel:";
      int lines = w->num_rows > 0 ? w->num_rows : 1;
      int tw = TextW(w, w->text);
      int len = static_cast<int>(w->text.size());
      int width = w->num_cols > 0 ? CeilDiv(static_cast<long long>(w->num_cols) * tw, len) : tw;
      SetBoth(w, width, Clamp(static_cast<long long>(lines) * line));
      return 0;
    }
    case GUI_PUSHB: {
      if (w->text.empty()) w->text = "DefCmd";
      int lines = w->num_rows > 0 ? w->num_rows : 1;
      int len = static_cast<int>(w->text.size());
      int cols = w->num_cols > 0 ? w->num_cols : len;
      int cw = CeilDiv(static_cast<long long>(TextW(w, w->text)) * cols, len);
      SetBoth(w, std::max(Chars(w, cols), cw) + 8, Clamp(static_cast<long long>(lines) * line + 8));
      return 0;
    }
    case GUI_CHECKBOX: {
      int width = w->text.empty() ? Chars(w, w->max_len) : TextW(w, w->text) + TextW(w, "000");
      SetBoth(w, width, std::max(line, s->menu_check_height));
      return 0;
    }
    case GUI_RBGROUP: {
      GUIFont* tf = GUIRadioTitleFont();
      int widest = 0;
      size_t longest = 0;
      for (const auto& c : w->choices) {
        widest = std::max(widest, TextW(w, c));
        longest = std::max(longest, c.size());
      }
      int title_len = static_cast<int>(w->text.size());
      int cols = w->num_cols > 0 ? w->num_cols : std::max(static_cast<int>(longest), title_len - 2) + 3;
      int inner = std::max(widest, TextW(tf, w->text) - 6) + TextW(w, "000") + 8;
      int lines = w->num_rows > 0 ? w->num_rows : static_cast<int>(w->choices.size()) + 1;
      SetBoth(w, std::max(Chars(w, cols), inner),
              Clamp(tf->metrics.line_height + static_cast<long long>(lines - 1) * (line + 3) + 4));
      return 0;
    }
    case GUI_OPTMENU: {
      int widest = 0;
      for (const auto& c : w->choices) widest = std::max(widest, TextW(w, c));
      int cols = w->num_cols > 0 ? w->num_cols : (w->max_len > 0 ? w->max_len : 20) + 1;
      int base = w->items.empty() ? Chars(w, cols) : widest;
      SetBoth(w, base + s->vscroll_width + 8, std::max(line + 8, s->vscroll_arrow));
      return 0;
    }
    case GUI_HSEP: case GUI_VSEP:
      SetBoth(w, 2, 2);
      return 0;
    case GUI_HSPLITTER: case GUI_VSPLITTER:
      SetBoth(w, 4, 4);
      return 0;
    case GUI_LISTHDR:
      SetBoth(w, TextW(w, w->text) + 2, line);
      return 0;
    case GUI_LISTDET:
      w->min_width = Chars(w, w->min_cols) + s->vscroll_width + 2;
      w->pref_width = Chars(w, w->pref_cols) + s->vscroll_width + 2;
      w->min_height = Clamp(static_cast<long long>(std::max(1, w->min_rows)) * (line + 1) + 2);
      w->pref_height = Clamp(static_cast<long long>(w->pref_rows) * (line + 1) + 2);
      return 0;
    case GUI_LVCOL: {
      int cols = w->num_cols > 0 ? w->num_cols : w->max_len;
      SetBoth(w, std::max(Chars(w, cols), TextW(w, w->text)) + 12, line);
      return 0;
    }
    case GUI_LISTVIEW:
      ListViewSize(w, s);
      return 0;
    case GUI_TREEVIEW:
      w->pref_width = Chars(w, 20);
      w->min_width = w->pref_width / 4;
      w->pref_height = 20 * line + 80;
      w->min_height = 5 * line + 20;
      return 0;
    case GUI_ROOT: case GUI_SINGLE: case GUI_FRAME: case GUI_TABFNOTIFY: case GUI_TVNOTIFY:
    case GUI_OVLY: case GUI_TABFOLDER:
      LargestChild(w);
      return 0;
    case GUI_GRID:
      GridSize(w);
      return 0;
    case GUI_SCROLLWIN:
      ScrollSize(w, s);
      return 0;
    case GUI_HROWCOL: case GUI_HSPLITPANE:
      RowColSize(w, true, s);
      return 0;
    case GUI_VROWCOL: case GUI_VSPLITPANE: case GUI_LIST:
      RowColSize(w, false, s);
      return 0;
    case GUI_HLBLDATA: case GUI_VLBLDATA:
      LabelledSize(w);
      return 0;
    case GUI_FORM:
      GUIFormGrid(w, s);
      w->min_width = w->form_min_width + w->over_h;
      w->pref_width = w->form_pref_width + w->over_h;
      w->min_height = w->form_min_height + w->over_v;
      w->pref_height = w->form_pref_height + w->over_v;
      return 0;
    default:
      return -1;
  }
}

}  // namespace

int GUIFormatLength(const char* format, int data_type) {
  if (!format) return 0;
  std::string f = format;
  if (data_type == GUI_DT_CHOICE) {
    size_t longest = 0, b = 0;
    while (b <= f.size()) {
      size_t e = f.find(':', b);
      if (e == std::string::npos) e = f.size();
      longest = std::max(longest, e - b);
      b = e + 1;
    }
    return static_cast<int>(longest);
  }
  long long n = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c == '"') {
      size_t e = f.find('"', i + 1);
      if (e == std::string::npos) e = f.size();
      n += static_cast<long long>(e - i - 1);
      i = e;
    } else if (c == '\\') {
      if (i + 1 < f.size()) ++n, ++i;
    } else if (c == '(' && i > 0) {
      size_t e = f.find(')', i);
      long long count = 0;
      bool digits = e != std::string::npos && e > i + 1;
      for (size_t k = i + 1; digits && k < e; ++k) {
        if (f[k] < '0' || f[k] > '9') digits = false;
        else count = std::min(count * 10 + (f[k] - '0'), 100000LL);
      }
      if (digits) {
        n += count - 1;
        i = e;
      } else {
        ++n;
      }
    } else {
      ++n;
    }
    if (n > 100000) n = 100000;
  }
  return static_cast<int>(n < 0 ? 0 : n);
}

void GUICalCSize(GUIWidget* w, const PlatScreenMeasures* s) {
  if (!w) return;
  if (w->kind < 0 || w->kind > kGUIKindMax) {
    RVReportError("Illegal type in GUICalCSize() - Type: %d", w->kind);
    return;
  }
  for (GUIWidget* c = w->child; c; c = c->next) GUICalCSize(c, s);
  if (w->is_data) SettleFormat(w);
  if (w->is_panel) Overhead(w);
  else w->inset_left = w->inset_top = w->over_h = w->over_v = 0;
  if (KindSize(w, s) != 0) {
    RVReportError("Illegal type in GUICalCSize() - Type: %d", w->kind);
    return;
  }
  if (w->is_panel) {
    w->own_min_width = w->min_width, w->own_min_height = w->min_height;
    w->own_pref_width = w->pref_width, w->own_pref_height = w->pref_height;
  }
  if (w->min_px_width > 0) w->min_width = w->min_px_width;
  if (w->min_px_height > 0) w->min_height = w->min_px_height;
  if (w->pref_px_width > 0) w->pref_width = w->pref_px_width;
  if (w->pref_px_height > 0) w->pref_height = w->pref_px_height;
  bool lists = w->kind == GUI_LIST || w->kind == GUI_LISTHDR || w->kind == GUI_LISTDET;
  if (!lists) {
    int cw = 2 * s->edge_width + 2 * s->border_width, ch = 2 * s->edge_height + 2 * s->border_height;
    int line = Line(w);
    bool rows = w->kind != GUI_LISTVIEW;  // a list view counts its rows itself
    if (w->min_cols > 0) w->min_width = Chars(w, w->min_cols) + cw;
    if (rows && w->min_rows > 0) w->min_height = Clamp(static_cast<long long>(w->min_rows) * line + ch);
    if (w->pref_cols > 0) w->pref_width = Chars(w, w->pref_cols) + cw;
    if (rows && w->pref_rows > 0) w->pref_height = Clamp(static_cast<long long>(w->pref_rows) * line + ch);
  }
  if (w->is_panel && w->pref_px_width <= 0) w->pref_width = std::max(w->pref_width, w->title_width);
  w->pref_width = std::max(w->pref_width, w->min_width);
  w->pref_height = std::max(w->pref_height, w->min_height);
  if (w->border > 0) {
    int b2 = Clamp(2LL * w->border);
    w->min_width = Clamp(static_cast<long long>(w->min_width) + b2);
    w->min_height = Clamp(static_cast<long long>(w->min_height) + b2);
    w->pref_width = Clamp(static_cast<long long>(w->pref_width) + b2);
    w->pref_height = Clamp(static_cast<long long>(w->pref_height) + b2);
  }
  if (w->halign == GUI_ALIGN_UNSET) w->halign = w->kind == GUI_LABEL ? GUI_ALIGN_END : GUI_ALIGN_START;
  if (w->valign == GUI_ALIGN_UNSET) w->valign = GUI_ALIGN_CENTER;
}
