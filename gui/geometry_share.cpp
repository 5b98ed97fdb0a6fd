// Sharing space among children (GUISetSize) and placing them (GUISetPos).
#include <algorithm>
#include <climits>
#include <vector>

#include "gui/geometry.h"
#include "gui/geometry_internal.h"
#include "runtime/report.h"

namespace {

int Fit(int slot, int min, int pref, bool stretch) {
  if (stretch) return std::max(slot, min);
  return std::max(min, std::min(pref, slot));
}

// Gives a child its slot and a size inside it.
void Slot(GUIWidget* c, int x, int y, int w, int h) {
  c->slot_x = x, c->slot_y = y, c->slot_width = w, c->slot_height = h;
}

// Shares `space` pixels along a row among `sizes` (starting at the
// minimum): first up to the preferred sizes in turns, then the grabbing
// children up to their grab share of `surplus`, then everyone equally.
void ShareAlong(std::vector<int>* sizes, const std::vector<int>& pref, const std::vector<int>& grab,
                long long space, long long surplus, bool equal) {
  std::vector<int>& s = *sizes;
  size_t n = s.size();
  if (n == 0 || space <= 0) return;
  if (equal) {
    // Everyone grows together; the first ones take what does not divide.
    long long each = space / static_cast<long long>(n), rest = space % static_cast<long long>(n);
    for (size_t i = 0; i < n; ++i) s[i] += static_cast<int>(each + (static_cast<long long>(i) < rest ? 1 : 0));
    return;
  }
  auto rounds = [&](std::vector<size_t> open, auto limit) {
    while (space > 0 && !open.empty()) {
      std::vector<size_t> still;
      for (size_t i : open) {
        if (space <= 0) break;
        if (s[i] >= limit(i)) continue;
        ++s[i];
        --space;
        if (s[i] < limit(i)) still.push_back(i);
      }
      open.swap(still);
    }
  };
  std::vector<size_t> all(n);
  for (size_t i = 0; i < n; ++i) all[i] = i;
  rounds(all, [&](size_t i) { return static_cast<long long>(pref[i]); });
  if (space <= 0) return;
  std::vector<size_t> grabbers;
  for (size_t i = 0; i < n; ++i)
    if (grab[i] > 0) grabbers.push_back(i);
  rounds(grabbers, [&](size_t i) { return pref[i] + surplus * std::min(grab[i], 100) / 100; });
  if (space <= 0) return;
  long long each = space / static_cast<long long>(n), rest = space % static_cast<long long>(n);
  for (size_t i = 0; i < n; ++i) s[i] += static_cast<int>(each + (static_cast<long long>(i) < rest ? 1 : 0));
}

// Row (HRowCol, HSplitPane) or column (VRowCol, VSplitPane, List) panels.
void RowCol(GUIWidget* w, bool horizontal) {
  std::vector<GUIWidget*> kids;
  for (GUIWidget* c = w->child; c; c = c->next) kids.push_back(c);
  size_t n = kids.size();
  if (n == 0) return;
  int b = w->border;
  int inner_along = (horizontal ? w->width - w->over_h : w->height - w->over_v) - 2 * b;
  int inner_across = (horizontal ? w->height - w->over_v : w->width - w->over_h) - 2 * b;
  int pref_inner_across = (horizontal ? w->own_pref_height - w->over_v : w->own_pref_width - w->over_h);
  long long gaps = static_cast<long long>(w->spacing) * static_cast<long long>(n - 1);
  bool equal_along = horizontal ? w->equal_width : w->equal_height;
  bool equal_across = horizontal ? w->equal_height : w->equal_width;
  std::vector<int> size(n), pref(n), grab(n);
  int common_min = 0, common_min_across = 0;
  for (GUIWidget* c : kids) {
    common_min = std::max(common_min, horizontal ? c->min_width : c->min_height);
    common_min_across = std::max(common_min_across, horizontal ? c->min_height : c->min_width);
  }
  long long sum_min = 0, sum_pref = 0;
  for (size_t i = 0; i < n; ++i) {
    GUIWidget* c = kids[i];
    size[i] = equal_along ? common_min : (horizontal ? c->min_width : c->min_height);
    pref[i] = horizontal ? c->pref_width : c->pref_height;
    grab[i] = horizontal ? c->grab_width : c->grab_height;
    sum_min += size[i];
    sum_pref += std::max(size[i], pref[i]);
  }
  long long avail = inner_along - gaps;
  long long surplus = std::max(0LL, avail - sum_pref);
  int grab_total = 0;
  for (int g : grab) grab_total = std::min(100, grab_total + g);
  int share_pct = std::max(horizontal ? w->adjust_child_width : w->adjust_child_height, grab_total);
  long long space = std::max(0LL, std::min(avail, sum_pref) - sum_min) + surplus * share_pct / 100;
  ShareAlong(&size, pref, grab, space, surplus, equal_along);
  long long used = 0;
  for (int s : size) used += s;
  long long left = std::max(0LL, avail - used);
  long long extra_spacing = left * w->adjust_spacing / 100;
  long long per_gap = n > 1 ? extra_spacing / static_cast<long long>(n - 1) : 0;
  left -= per_gap * static_cast<long long>(n > 1 ? n - 1 : 0);
  long long offset = left * (horizontal ? w->adjust_left : w->adjust_top) / 100;
  // Across.
  long long excess_across = std::max(0, inner_across - pref_inner_across);
  int adjust_across = horizontal ? w->adjust_child_height : w->adjust_child_width;
  long long pos = (horizontal ? w->inset_left : w->inset_top) + b + offset;
  int across_origin = (horizontal ? w->inset_top : w->inset_left) + b;
  for (size_t i = 0; i < n; ++i) {
    GUIWidget* c = kids[i];
    int cmin = equal_across ? common_min_across : (horizontal ? c->min_height : c->min_width);
    int cpref = horizontal ? c->pref_height : c->pref_width;
    bool stretch = horizontal ? c->vstretch : c->hstretch;
    bool sep = c->kind == GUI_HSEP || c->kind == GUI_VSEP || c->kind == GUI_HSPLITTER || c->kind == GUI_VSPLITTER;
    int across = stretch || sep ? std::max(inner_across, cmin)
                                : std::max(cmin, std::min(cpref, inner_across)) +
                                      static_cast<int>(excess_across * adjust_across / 100);
    if (!stretch && !sep) across = std::max(cmin, std::min(across, std::max(inner_across, cmin)));
    int slot_origin = across_origin, slot_across = inner_across;
    int adjust_start = horizontal ? w->adjust_top : w->adjust_left;
    if (!horizontal && GUIAlignedLabel(c) && c->label_share == 0) c->label_share = w->label_share;
    if (horizontal && c->kind == GUI_VLBLDATA && equal_across) c->label_share = w->label_share;
    if (adjust_start > 0 && !stretch) {
      slot_origin += std::max(0, inner_across - across) * adjust_start / 100;
      slot_across = across;
    }
    int p = static_cast<int>(std::min<long long>(pos, INT_MAX / 4));
    if (horizontal) {
      Slot(c, p, slot_origin, size[i], slot_across);
      GUISetSize(c, size[i], across, nullptr);
    } else {
      Slot(c, slot_origin, p, slot_across, size[i]);
      GUISetSize(c, across, size[i], nullptr);
    }
    pos += size[i] + w->spacing + per_gap;
  }
}

// A labelled container: label and field.
void Labelled(GUIWidget* w) {
  GUIWidget* label = w->child;
  GUIWidget* field = label ? label->next : nullptr;
  if (!field) return;
  int W = w->width - 2 * w->border, H = w->height - 2 * w->border, b = w->border;
  if (w->kind == GUI_HLBLDATA) {
    int lw = w->label_share > 0 ? w->label_share : label->pref_width;
    Slot(label, b, b, lw, H);
    GUISetSize(label, Fit(lw, label->min_width, label->pref_width, false),
               Fit(H, label->min_height, label->pref_height, false), nullptr);
    int fw = std::max(0, W - lw - w->spacing);
    Slot(field, b + lw + w->spacing, b, fw, H);
    GUISetSize(field, Fit(fw, field->min_width, field->pref_width, field->hstretch),
               Fit(H, field->min_height, field->pref_height, field->vstretch), nullptr);
  } else {
    int lh = w->label_share > 0 ? w->label_share : label->pref_height;
    Slot(label, b, b, W, lh);
    GUISetSize(label, Fit(W, label->min_width, label->pref_width, false),
               Fit(lh, label->min_height, label->pref_height, false), nullptr);
    int fh = std::max(0, H - lh - w->spacing);
    Slot(field, b, b + lh + w->spacing, W, fh);
    GUISetSize(field, Fit(W, field->min_width, field->pref_width, field->hstretch),
               Fit(fh, field->min_height, field->pref_height, field->vstretch), nullptr);
  }
}

// Single and ScrollWin: one child inside adjustable insets.
void Single(GUIWidget* w) {
  GUIWidget* c = w->child;
  if (!c) return;
  int b = w->border;
  int iw = w->width - w->over_h - 2 * b, ih = w->height - w->over_v - 2 * b;
  int ex_w = std::max(0, iw - c->pref_width), ex_h = std::max(0, ih - c->pref_height);
  int cw = std::max(c->min_width, std::min(c->pref_width, iw) + ex_w * std::max(0, w->adjust_child_width) / 100);
  int ch = std::max(c->min_height, std::min(c->pref_height, ih) + ex_h * std::max(0, w->adjust_child_height) / 100);
  if (w->kind == GUI_SCROLLWIN) {
    cw = std::max(cw, c->pref_width);
    ch = std::max(ch, c->pref_height);
  }
  int rw = std::max(0, iw - cw), rh = std::max(0, ih - ch);
  int x = w->inset_left + b + rw * w->adjust_left / 100;
  int y = w->inset_top + b + rh * w->adjust_top / 100;
  Slot(c, x, y, cw, ch);
  GUISetSize(c, cw, ch, nullptr);
}

// Every child gets the whole inner space (Root, Ovly, TabFolder, ...).
void Whole(GUIWidget* w) {
  int b = w->border;
  int iw = std::max(0, w->width - w->over_h - 2 * b), ih = std::max(0, w->height - w->over_v - 2 * b);
  for (GUIWidget* c = w->child; c; c = c->next) {
    Slot(c, w->inset_left + b, w->inset_top + b, iw, ih);
    GUISetSize(c, std::max(iw, c->min_width), std::max(ih, c->min_height), nullptr);
  }
}

void Grid(GUIWidget* w) {
  int b = w->border;
  int iw = std::max(0, w->width - w->over_h - 2 * b), ih = std::max(0, w->height - w->over_v - 2 * b);
  for (GUIWidget* c = w->child; c; c = c->next) {
    int pw = c->pct_width < 0 ? 100 : c->pct_width, ph = c->pct_height < 0 ? 100 : c->pct_height;
    int cw = static_cast<int>(static_cast<long long>(iw) * pw / 100);
    int ch = static_cast<int>(static_cast<long long>(ih) * ph / 100);
    Slot(c, w->inset_left + b, w->inset_top + b, iw, ih);
    GUISetSize(c, std::max(cw, c->min_width), std::max(ch, c->min_height), nullptr);
  }
}

void ListView(GUIWidget* w) {
  int x = w->inset_left + w->border;
  for (GUIWidget* c = w->child; c; c = c->next) {
    Slot(c, x, w->inset_top + w->border, c->pref_width, c->pref_height);
    GUISetSize(c, c->pref_width, c->pref_height, nullptr);
    x += c->pref_width;
  }
}

void FormChildren(GUIWidget* w) {
  GUIFormCells(w);
  for (GUIWidget* c = w->child; c; c = c->next) {
    bool labelled = c->kind == GUI_HLBLDATA || c->kind == GUI_VLBLDATA;
    int cw = labelled ? c->slot_width : Fit(c->slot_width, c->min_width, c->pref_width, c->hstretch);
    int ch = labelled ? c->slot_height : Fit(c->slot_height, c->min_height, c->pref_height, c->vstretch);
    if (labelled) {
      cw = std::max(cw, c->min_width);
      ch = std::max(ch, c->min_height);
    }
    GUISetSize(c, cw, ch, nullptr);
  }
}

// The position of a size inside a slot by alignment or percentage.
int Place(int slot_pos, int slot_size, int size, int align, int pct) {
  int free = slot_size - size;
  if (pct >= 0) return slot_pos + (free > 0 ? static_cast<int>(static_cast<long long>(free) * std::min(pct, 100) / 100) : 0);
  if (free <= 0) return slot_pos;
  if (align == GUI_ALIGN_CENTER) return slot_pos + free / 2;
  if (align == GUI_ALIGN_END) return slot_pos + free;
  return slot_pos;
}

}  // namespace

void GUISetSize(GUIWidget* w, int width, int height, const PlatScreenMeasures*) {
  if (!w) return;
  if (w->kind < 0 || w->kind > kGUIKindMax) {
    RVReportError("Illegal type in GUISetSize() - Type: %d", w->kind);
    return;
  }
  w->width = std::max(0, width);
  w->height = std::max(0, height);
  switch (w->kind) {
    case GUI_HROWCOL: case GUI_HSPLITPANE:
      RowCol(w, true);
      break;
    case GUI_VROWCOL: case GUI_VSPLITPANE: case GUI_LIST:
      RowCol(w, false);
      break;
    case GUI_HLBLDATA: case GUI_VLBLDATA:
      Labelled(w);
      break;
    case GUI_SINGLE: case GUI_SCROLLWIN:
      Single(w);
      break;
    case GUI_GRID:
      Grid(w);
      break;
    case GUI_FORM:
      FormChildren(w);
      break;
    case GUI_LISTVIEW:
      ListView(w);
      break;
    default:
      if (w->child) Whole(w);
      break;
  }
}

void GUISetPos(GUIWidget* w) {
  if (!w) return;
  if (w->kind < 0 || w->kind > kGUIKindMax) {
    RVReportError("Illegal type in GUISetPos() - Type: %d", w->kind);
    return;
  }
  for (GUIWidget* c = w->child; c; c = c->next) {
    int px = -1, py = -1;
    if (w->kind == GUI_GRID) {
      px = c->pct_x >= 0 ? c->pct_x : w->child_pct_x;
      py = c->pct_y >= 0 ? c->pct_y : w->child_pct_y;
    } else if (w->kind == GUI_HROWCOL) {
      py = c->pct_y >= 0 ? c->pct_y : w->child_pct_y;
    } else if (w->kind == GUI_VROWCOL) {
      px = c->pct_x >= 0 ? c->pct_x : w->child_pct_x;
    }
    bool along_h = w->kind == GUI_HROWCOL || w->kind == GUI_HSPLITPANE;
    bool along_v = w->kind == GUI_VROWCOL || w->kind == GUI_VSPLITPANE || w->kind == GUI_LIST;
    c->x = along_h ? c->slot_x : Place(c->slot_x, c->slot_width, c->width, c->halign, px);
    c->y = along_v ? c->slot_y : Place(c->slot_y, c->slot_height, c->height, c->valign, py);
    GUISetPos(c);
  }
}
