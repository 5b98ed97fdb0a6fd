// Lengths of the layouts and the font files.
#include "gui/length.h"

#include <cmath>

#include "gui/window_system.h"

namespace {

constexpr double kMagnitudeMax = 1e12; // largest number GUIParseDecimal gives
constexpr int kFractionDigits = 17;    // fraction digits that count

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int GUIParseDecimal(const char* text, double* value, const char** end) {
  if (!text) return 0;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  double v = 0;
  int digits = 0;
  for (; IsDigit(*p); ++p, ++digits) {
    v = v * 10 + (*p - '0');
    if (v > kMagnitudeMax) v = kMagnitudeMax;
  }
  if (*p == '.') {
    ++p;
    double scale = 0.1;
    for (int n = 0; IsDigit(*p); ++p, ++digits, ++n) {
      if (n < kFractionDigits) v += (*p - '0') * scale;
      scale /= 10;
    }
    if (v > kMagnitudeMax) v = kMagnitudeMax;
  }
  if (digits == 0) return 0;
  *value = negative ? -v : v;
  if (end) *end = p;
  return 1;
}

int GUILengthPixels(const PlatScreenMeasures* screen, const char* text, int vertical) {
  double v = 0;
  const char* p = nullptr;
  if (!screen || !GUIParseDecimal(text, &v, &p)) return -1;
  if (v < 0) return -1;
  if (v == 0) return 0;
  while (IsBlank(*p)) ++p;
  double res = vertical ? screen->res_y : screen->res_x;
  double factor = 1;
  switch (*p) {
    case 'D':
    case 'd':
      factor = vertical ? screen->base_unit_y / 8.0 : screen->base_unit_x / 4.0;
      break;
    case 'I':
    case 'i':
      factor = res;
      break;
    case 'M':
    case 'm':
      factor = res / 25.4;
      break;
    case 'P':
    case 'p':
      if (p[1] == 'O' || p[1] == 'o' || p[1] == 'T' || p[1] == 't') factor = res / 72.0;
      break;
    default:
      break;
  }
  if (factor < 0) factor = 0;
  double pixels = std::floor(v * factor + 0.5);
  if (pixels > kGUILengthMax) return kGUILengthMax;
  return static_cast<int>(pixels);
}

int GUILength(const char* text, int vertical) { return GUILengthPixels(GUIScreen(), text, vertical); }
