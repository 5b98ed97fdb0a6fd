// The Form grid: columns and rows measured from the children's needs.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "gui/fonts.h"
#include "gui/geometry_internal.h"

namespace {

// A need of a run of columns (or rows): their widths must add up to `need`.
struct Need {
  int first;
  int count;
  int need;
};

bool IsLabelled(const GUIWidget* c) {
  return (c->kind == GUI_HLBLDATA || c->kind == GUI_VLBLDATA) && c->child && c->child->next;
}

const GUIWidget* DataOf(const GUIWidget* c) { return IsLabelled(c) ? c->child->next : c; }

long long Sum(const std::vector<int>& v, int first, int count) {
  long long s = 0;
  for (int i = first; i < first + count; ++i) s += v[static_cast<size_t>(i)];
  return s;
}

// Widens the columns until every need is met: the need with the largest
// share per still-empty column first (on a tie the one over fewer columns).
void Widen(std::vector<int>* widths, const std::vector<Need>& needs) {
  std::vector<int>& w = *widths;
  for (size_t round = 0; round <= needs.size() * 2 + 1; ++round) {
    int best = -1, best_share = 0, best_zero = 0;
    for (size_t i = 0; i < needs.size(); ++i) {
      const Need& n = needs[i];
      long long d = n.need - Sum(w, n.first, n.count);
      if (d <= 0 || n.count <= 0) continue;
      int zero = 0;
      for (int k = n.first; k < n.first + n.count; ++k) zero += w[static_cast<size_t>(k)] == 0 ? 1 : 0;
      int over = zero > 0 ? zero : n.count;
      int share = static_cast<int>((d + over - 1) / over);
      if (best < 0 || share > best_share || (share == best_share && zero < best_zero)) {
        best = static_cast<int>(i), best_share = share, best_zero = zero;
      }
    }
    if (best < 0) return;
    const Need& n = needs[static_cast<size_t>(best)];
    for (int k = n.first; k < n.first + n.count; ++k) {
      int& col = w[static_cast<size_t>(k)];
      if (best_zero > 0) {
        if (col == 0) col = best_share;
      } else {
        col += best_share;
      }
    }
  }
}

// Narrows every column by one pixel at a time while every need holds.
void Shrink(std::vector<int>* widths, const std::vector<Need>& needs) {
  std::vector<int>& w = *widths;
  std::vector<std::vector<int>> by_col(w.size());
  for (size_t i = 0; i < needs.size(); ++i)
    for (int k = needs[i].first; k < needs[i].first + needs[i].count; ++k)
      by_col[static_cast<size_t>(k)].push_back(static_cast<int>(i));
  std::vector<long long> sums(needs.size());
  for (size_t i = 0; i < needs.size(); ++i) sums[i] = Sum(w, needs[i].first, needs[i].count);
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t c = 0; c < w.size(); ++c) {
      if (w[c] == 0) continue;
      bool ok = true;
      for (int i : by_col[c])
        if (sums[static_cast<size_t>(i)] - 1 < needs[static_cast<size_t>(i)].need) ok = false;
      if (!ok) continue;
      --w[c];
      for (int i : by_col[c]) --sums[static_cast<size_t>(i)];
      changed = true;
    }
  }
}

int Points(double points, int res) {
  return static_cast<int>(std::floor(points * (res > 0 ? res : 96) / 72.0 + 0.5));
}

// The columns a side label takes before the data column `col`.
void LabelCols(const GUIWidget* c, int col, int* first, int* count) {
  int len = static_cast<int>(c->child->text.size());
  int end = col - 1;
  int start = std::max(0, end - std::max(1, len));
  *first = start;
  *count = std::max(0, end - start);
}

}  // namespace

void GUIFormSpan(const GUIWidget* c, int* row, int* col, int* rows, int* cols) {
  const GUIWidget* d = DataOf(c);
  *row = d->row;
  *col = d->col;
  if (d->kind == GUI_FORM) {
    *rows = std::max(1, static_cast<int>(d->form_rows.size()));
    *cols = std::max(1, static_cast<int>(d->form_cols.size()));
  } else if (d->is_panel) {
    *rows = 20, *cols = 40;
  } else {
    *rows = 1;
    *cols = std::max(1, d->max_len);
  }
  if (d->num_rows > 0) *rows = d->num_rows;
  if (d->num_cols > 0) *cols = d->num_cols;
  *rows = std::min(*rows, 10000);
  *cols = std::min(*cols, 10000);
  *row = std::min(*row, 10000);
  *col = std::min(*col, 10000);
}

void GUIFormGrid(GUIWidget* f, const PlatScreenMeasures* s) {
  int gap = Points(5, s->res_x), row_gap = Points(3, s->res_x);
  f->form_col_gap = gap, f->form_row_gap = row_gap;
  int ncols = 1, nrows = 1, first_col = INT_MAX, first_row = INT_MAX;
  struct Cell {
    const GUIWidget* c;
    int row, col, rows, cols, lcol, lcols, lrow;
  };
  std::vector<Cell> cells;
  for (const GUIWidget* c = f->child; c; c = c->next) {
    Cell e = {c, 0, 0, 1, 1, 0, 0, -1};
    GUIFormSpan(c, &e.row, &e.col, &e.rows, &e.cols);
    e.lcol = e.col, e.lcols = 0;
    if (IsLabelled(c) && c->kind == GUI_HLBLDATA && e.col > 0) LabelCols(c, e.col, &e.lcol, &e.lcols);
    if (IsLabelled(c) && c->kind == GUI_VLBLDATA && e.row > 0) e.lrow = e.row - 1;
    ncols = std::max(ncols, e.col + e.cols);
    nrows = std::max(nrows, e.row + e.rows);
    first_col = std::min(first_col, e.lcol);
    first_row = std::min(first_row, e.lrow >= 0 ? e.lrow : e.row);
    cells.push_back(e);
  }
  if (cells.empty()) first_col = first_row = 0;
  std::vector<Need> needs;
  std::vector<char> used(static_cast<size_t>(ncols), 0);
  for (const Cell& e : cells) {
    const GUIWidget* d = DataOf(e.c);
    needs.push_back({e.col, e.cols, d->min_width});
    if (e.lcols > 0) {
      needs.push_back({e.lcol, e.lcols, e.c->child->pref_width});
      needs.push_back({e.col - 1, 1, 5});
    }
    for (int k = e.lcol; k < e.col + e.cols; ++k) used[static_cast<size_t>(k)] = 1;
    // The unused columns after it, up to the next child on the same rows.
    int end = e.col + e.cols, next = INT_MAX;
    for (const Cell& o : cells) {
      if (&o == &e || o.row >= e.row + e.rows || o.row + o.rows <= e.row) continue;
      if (o.lcol >= end) next = std::min(next, o.lcol);
    }
    if (next != INT_MAX && next > end) needs.push_back({end, next - end, gap});
  }
  std::vector<int> cols(static_cast<size_t>(ncols), 0);
  Widen(&cols, needs);
  if (f->fixed_pos) {
    long long total = 0;
    for (int w : cols) total += w;
    int one = std::max(gap, static_cast<int>((total + ncols - 1) / ncols));
    std::fill(cols.begin(), cols.end(), one);
  } else {
    Shrink(&cols, needs);
  }
  std::vector<int> rows(static_cast<size_t>(nrows), 0);
  for (const Cell& e : cells) {
    const GUIWidget* d = DataOf(e.c);
    int h = d->min_height, base = h / e.rows, extra = h % e.rows;
    for (int k = 0; k < e.rows; ++k) {
      int& r = rows[static_cast<size_t>(e.row + k)];
      r = std::max(r, base + (k < extra ? 1 : 0));
    }
    if (e.lrow >= 0) {
      int& r = rows[static_cast<size_t>(e.lrow)];
      r = std::max(r, e.c->child->pref_height + 3);
    }
  }
  // Leading empty columns and rows are dropped.
  first_col = std::min(first_col, ncols - 1);
  first_row = std::min(first_row, nrows - 1);
  f->form_first_col = first_col, f->form_first_row = first_row;
  f->form_cols.assign(cols.begin() + first_col, cols.end());
  f->form_rows.assign(rows.begin() + first_row, rows.end());
  f->form_pref_cols = f->form_cols;
  f->form_pref_rows = f->form_rows;
  for (size_t k = 0; k < f->form_cols.size(); ++k)
    if (!used[k + static_cast<size_t>(first_col)]) f->form_pref_cols[k] += gap;
  for (int& r : f->form_pref_rows) r = std::max(r, row_gap);
  int grid = f->show_grid ? 1 : 0;
  auto total = [grid](const std::vector<int>& v) {
    long long t = grid;
    for (int x : v) t += x + grid;
    return static_cast<int>(std::min<long long>(t, INT_MAX / 4));
  };
  f->form_min_width = total(f->form_cols);
  f->form_pref_width = total(f->form_pref_cols);
  f->form_min_height = total(f->form_rows);
  f->form_pref_height = total(f->form_pref_rows);
}

void GUIFormCells(GUIWidget* f) {
  int inner_w = f->width - f->over_h - 2 * f->border, inner_h = f->height - f->over_v - 2 * f->border;
  const std::vector<int>& cols = inner_w >= f->form_pref_width ? f->form_pref_cols : f->form_cols;
  const std::vector<int>& rows = inner_h >= f->form_pref_height ? f->form_pref_rows : f->form_rows;
  int grid = f->show_grid ? 1 : 0;
  std::vector<long long> cx(cols.size() + 1), ry(rows.size() + 1);
  cx[0] = grid, ry[0] = grid;
  for (size_t k = 0; k < cols.size(); ++k) cx[k + 1] = cx[k] + cols[k] + grid;
  for (size_t k = 0; k < rows.size(); ++k) ry[k + 1] = ry[k] + rows[k] + grid;
  auto at = [](const std::vector<long long>& v, int i) {
    i = std::max(0, std::min(i, static_cast<int>(v.size()) - 1));
    return static_cast<int>(v[static_cast<size_t>(i)]);
  };
  int ox = f->inset_left + f->border, oy = f->inset_top + f->border;
  for (GUIWidget* c = f->child; c; c = c->next) {
    int row, col, nr, nc;
    GUIFormSpan(c, &row, &col, &nr, &nc);
    int c0 = col - f->form_first_col, r0 = row - f->form_first_row;
    int x = ox + at(cx, c0), y = oy + at(ry, r0);
    int w = at(cx, c0 + nc) - at(cx, c0) - grid, h = at(ry, r0 + nr) - at(ry, r0) - grid;
    if (c->kind == GUI_HLBLDATA && IsLabelled(c)) {
      // The data part starts at its cell; the label ends one gap before it.
      int lw = c->child->pref_width;
      c->label_share = lw;
      c->slot_x = x - c->spacing - lw;
      c->slot_width = w + c->spacing + lw;
      c->slot_y = y, c->slot_height = h;
    } else if (c->kind == GUI_VLBLDATA && IsLabelled(c)) {
      int lh = c->child->pref_height;
      c->label_share = lh;
      c->slot_y = y - c->spacing - lh;
      c->slot_height = h + c->spacing + lh;
      c->slot_x = x, c->slot_width = w;
    } else {
      c->slot_x = x, c->slot_y = y, c->slot_width = w, c->slot_height = h;
    }
  }
}
