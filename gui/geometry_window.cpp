// The top-level window: placement, relayout sizes, status-bar parts.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "gui/geometry.h"
#include "gui/length.h"

namespace {

int Share(int size, int pct) { return static_cast<int>(static_cast<long long>(size) * pct / 100); }

}  // namespace

void GUIPlaceWindow(const GUILayout* l, const GUIPlaceIn* in, GUIPlaceOut* out) {
  *out = GUIPlaceOut{};
  int extra_h = in->frame_height + in->menu_height + in->status_height;
  int min_w = in->root_min_width + in->frame_width, min_h = in->root_min_height + extra_h;
  int w = in->root_pref_width + in->frame_width, h = in->root_pref_height + extra_h;
  const PlatRect& wa = in->work_area;
  bool owner_size = in->has_owner && !l->size_absolute;
  bool owner_pos = in->has_owner && !l->pos_absolute;
  const PlatRect& size_ref = owner_size ? in->owner : wa;
  const PlatRect& pos_ref = owner_pos ? in->owner : wa;
  if (w > wa.width) w = std::max(wa.width, min_w);
  if (h > wa.height) h = std::max(wa.height, min_h);
  if (l->pct_width > 0 && Share(size_ref.width, l->pct_width) > min_w) w = Share(size_ref.width, l->pct_width);
  if (l->pct_height > 0 && Share(size_ref.height, l->pct_height) > min_h) h = Share(size_ref.height, l->pct_height);
  int x, y;
  if (l->pct_x >= 0 || l->pct_y >= 0) {
    x = pos_ref.left + (l->pct_x >= 0 ? Share(std::max(0, pos_ref.width - w), l->pct_x) : 0);
    y = pos_ref.top + (l->pct_y >= 0 ? Share(std::max(0, pos_ref.height - h), l->pct_y) : 0);
  } else if (l->x >= 0 || l->y >= 0) {
    x = pos_ref.left + std::max(0, l->x);
    y = pos_ref.top + std::max(0, l->y);
  } else {
    x = wa.left;
    y = wa.top;
  }
  if (x + w > wa.left + wa.width) x = wa.left + wa.width - w;
  if (y + h > wa.top + wa.height) y = wa.top + wa.height - h;
  x = std::max(x, wa.left);
  y = std::max(y, wa.top);
  x = std::max(x, 0);
  y = std::max(y, 0);
  out->window = PlatRect{x, y, x + w, y + h, w, h};
  out->min_track_width = min_w;
  out->min_track_height = min_h;
  out->max_track_width = std::max(in->screen_width + in->frame_width, w);
  out->max_track_height = std::max(in->screen_height + extra_h, h);
}

void GUIRelayout(GUILayout* l, int client_width, int client_height, const PlatScreenMeasures* s) {
  GUIWidget* root = l->root;
  int h = std::max(0, client_height - l->status_height);
  GUISetSize(root, std::max(0, client_width), h, s);
  root->x = root->y = 0;
  GUISetPos(root);
}

int GUIStatusParts(const char* parts, int width, int* rights, int max) {
  if (max <= 0) return 0;
  width = std::max(0, width);
  int count = 0;
  if (parts && *parts) {
    std::string text = parts;
    size_t b = 0;
    long long sum = 0;
    int entries = 0;
    bool ended = false;
    while (b <= text.size() && entries < kGUIStatusPartsMax && count < max) {
      size_t e = text.find(':', b);
      if (e == std::string::npos) e = text.size();
      std::string entry = text.substr(b, e - b);
      b = e + 1;
      ++entries;
      double pct = 0;
      const char* end;
      if (!GUIParseDecimal(entry.c_str(), &pct, &end) || pct < 0) pct = 0;
      sum += static_cast<long long>(pct > 100 ? 100 : pct);
      long long right = static_cast<long long>(width) * sum / 100;
      if (right >= width) {
        rights[count++] = width;
        ended = true;
        break;
      }
      rights[count++] = static_cast<int>(right);
      if (e >= text.size()) break;
    }
    if (!ended && count < max) rights[count++] = width;
    return count;
  }
  rights[count++] = width;
  return count;
}

void GUIComputeLayout(GUILayout* l, int width, int height, const PlatScreenMeasures* s) {
  GUIAssignFonts(l);
  GUICalCSize(l->root, s);
  if (width < 1) width = l->root->pref_width;
  if (height < 1) height = l->root->pref_height;
  GUIRelayout(l, width, height + l->status_height, s);
}
