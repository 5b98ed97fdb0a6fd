// Fonts of the toolkit: definition files, instances, text measurement.
#include "gui/fonts.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "gui/client_prefs.h"
#include "gui/length.h"
#include "gui/window_system.h"
#include "platform/file.h"
#include "runtime/env.h"
#include "runtime/report.h"
#include "runtime/text_lines.h"

namespace {

constexpr char kFontFile[] = "tqsfont.def";
constexpr char kDefault[] = "default";
constexpr size_t kExpandBuffer = 4096; // expanded "$" names, terminator included

// A (class, set) pair folded to lower case: the key of definitions and
// instances.
using FontKey = std::pair<std::string, std::string>;

// Which level a font file belongs to: decides its open failure's message.
enum FontFileLevel {
  FONT_FILE_USER,    // the user's FontFileList or tqsfont.def
  FONT_FILE_ALL,     // the global FontFileList
  FONT_FILE_DEFAULT, // the last default candidate
};

// A form cell default and whether a line set it itself (not through its
// partner).
struct CellValue {
  int value; // pixels, -1 unset
  int own;   // 1 when set by its own keyword
};

// Everything the font registry holds.
struct FontRegistry {
  std::map<FontKey, GUIFontClass> classes;            // definitions; the first per key stays
  std::map<FontKey, std::unique_ptr<GUIFont>> fonts;  // instances made
  std::set<FontKey> failed;                           // definitions the window system could not make
  GUIFont system_fixed = {};                          // the system fixed font's record
  bool system_fixed_ready = false;                    // system_fixed is filled
  GUIFont* panel_title = nullptr;                     // fixed by GUILoadFontFiles
  GUIFont* radio_title = nullptr;
  CellValue cells[4] = {{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}}; // min col, pref col, min row, pref row
  GUIFormCells cells_out = {-1, -1, -1, -1};                 // what GUIFormCellDefaults shows
  bool dc_reported = false;                                   // "Cannot CreateDC()" said in this load
};

// Reports may show boxes that measure text: the lock is recursive.
std::recursive_mutex g_lock;
FontRegistry g_fonts;

// The reading state of one font file.
struct FontFileState {
  std::string set;  // current font set
  double size_inc;  // FontSizeInc of the preferences
  double increment; // increment in force
  int errors;       // lines reported
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) out += Lower(*p);
  return out;
}

FontKey KeyOf(const char* cls, const char* set) { return FontKey(Folded(cls), Folded(set)); }

double Clamped(double v) {
  if (v > kGUIFontPointsMax) return kGUIFontPointsMax;
  if (v < -kGUIFontPointsMax) return -kGUIFontPointsMax;
  return v;
}

// A number that fills `field`: 1 with *out, else 0.
int WholeNumber(const char* field, double* out) {
  double v = 0;
  const char* end = nullptr;
  if (!GUIParseDecimal(field, &v, &end)) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return 0;
  *out = Clamped(v);
  return 1;
}

bool IsFieldSeparator(char c) { return c == ',' || c == '\t' || c == '\n'; }
bool IsFieldBlank(char c) { return c == ' ' || c == '\r'; }

// Splits `line` in place into at most kGUIFontFieldsMax non-empty fields.
int SplitFields(char* line, size_t length, char** fields) {
  int n = 0;
  size_t i = 0;
  while (i < length && n < kGUIFontFieldsMax) {
    size_t start = i;
    while (i < length && !IsFieldSeparator(line[i])) ++i;
    size_t end = i;
    if (i < length) line[i++] = '\0';
    while (start < end && IsFieldBlank(line[start])) ++start;
    while (end > start && IsFieldBlank(line[end - 1])) --end;
    if (end == start) continue;
    line[end] = '\0';
    fields[n++] = line + start;
  }
  return n;
}

// The value of an attribute "<name> = <value>", or null when `field` is not
// one of `name`.
const char* AttributeValue(const char* field, const char* name) {
  if (!RVTextStartsNoCase(field, name)) return nullptr;
  const char* p = field + std::char_traits<char>::length(name);
  while (*p == ' ') ++p;
  if (*p != '=') return nullptr;
  ++p;
  while (*p == ' ') ++p;
  return p;
}

// A FontClass line: fields[1] the class, the rest its attributes.
void DefineClass(FontFileState* st, char** fields, int n) {
  if (n < 3) {
    RVReportError("Bad Font Class: %s", n >= 2 ? fields[1] : "");
    st->errors++;
    return;
  }
  GUIFontClass def;
  def.cls = fields[1];
  def.set = st->set;
  def.face = kGUIFontDefaultFace;
  double points = kGUIFontDefaultPoints;
  def.weight = GUI_WEIGHT_NORMAL;
  def.underline = 0;
  def.italic = 0;
  for (int i = 2; i < n; ++i) {
    const char* a = fields[i];
    const char* v;
    double number;
    if ((v = AttributeValue(a, "Facename"))) {
      if (*v) def.face = v;
    } else if ((v = AttributeValue(a, "PointSize"))) {
      if (WholeNumber(v, &number)) points = number;
    } else if (RVTextEqualNoCase(a, "bold")) {
      def.weight = GUI_WEIGHT_BOLD;
    } else if (RVTextEqualNoCase(a, "dim")) {
      def.weight = GUI_WEIGHT_DIM;
    } else if (RVTextEqualNoCase(a, "normal")) {
      def.weight = GUI_WEIGHT_NORMAL;
    } else if (RVTextEqualNoCase(a, "ul") || RVTextEqualNoCase(a, "underline")) {
      def.underline = 1;
    } else if (RVTextEqualNoCase(a, "italic")) {
      def.italic = 1;
    }
  }
  def.points = points + st->increment;
  g_fonts.classes.emplace(KeyOf(def.cls.c_str(), def.set.c_str()), std::move(def));
}

// A form cell default: the first explicit setting wins (files read first
// win, as for classes); its partner takes the value while unset.
void SetCell(int which, int partner, int value) {
  if (value < 0) return;
  CellValue& c = g_fonts.cells[which];
  if (c.own) return;
  c.value = value;
  c.own = 1;
  if (g_fonts.cells[partner].value < 0) g_fonts.cells[partner].value = value;
  g_fonts.cells_out = {g_fonts.cells[0].value, g_fonts.cells[1].value, g_fonts.cells[2].value,
                       g_fonts.cells[3].value};
}

// One logical line of a font file.
void FontLine(char* line, size_t length, void* context) {
  FontFileState* st = static_cast<FontFileState*>(context);
  char* fields[kGUIFontFieldsMax];
  int n = SplitFields(line, length, fields);
  if (n == 0) return;
  const char* k = fields[0];
  double number;
  if (RVTextEqualNoCase(k, "PointSizeInc")) {
    if (n >= 2 && WholeNumber(fields[1], &number)) st->increment = Clamped(number + st->size_inc);
  } else if (RVTextEqualNoCase(k, "FontName")) {
    if (n >= 2) st->set = fields[1];
  } else if (RVTextEqualNoCase(k, "FontClass")) {
    DefineClass(st, fields, n);
  } else if (RVTextEqualNoCase(k, "MinColWidth")) {
    if (n >= 2) SetCell(0, 1, GUILength(fields[1], 0));
  } else if (RVTextEqualNoCase(k, "PrefColWidth")) {
    if (n >= 2) SetCell(1, 0, GUILength(fields[1], 0));
  } else if (RVTextEqualNoCase(k, "MinRowHeight")) {
    if (n >= 2) SetCell(2, 3, GUILength(fields[1], 1));
  } else if (RVTextEqualNoCase(k, "PrefRowHeight")) {
    if (n >= 2) SetCell(3, 2, GUILength(fields[1], 1));
  }
}

// FontSizeInc of the preferences (user value, else global), 0 when unset
// or not a number.
double SizeInc() {
  double v = 0;
  const char* text = GUIPrefValue("FontSizeInc");
  return text && WholeNumber(text, &v) ? v : 0;
}

FontFileState NewFileState() {
  double inc = SizeInc();
  return FontFileState{kDefault, inc, inc, 0};
}

std::string Normalized(std::string path) {
  RVNormalizePath(path.data());
  path.resize(std::char_traits<char>::length(path.c_str()));
  return path;
}

std::string InDir(const char* dir_setting, const std::string& name) {
  const char* dir = RVGetEnv(dir_setting);
  return Normalized(std::string(dir && *dir ? dir : ".") + "/" + name);
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The path of a FontFileList name: relative to `dir_setting` unless it
// begins with "/", "\", "$" (expanded) or a drive. Empty when the expansion
// does not fit its buffer.
std::string ListedPath(const std::string& name, const char* dir_setting) {
  if (name[0] == '/' || name[0] == '\\') return Normalized(name);
  if (name.size() >= 3 && IsLetter(name[0]) && name[1] == ':' && (name[2] == '/' || name[2] == '\\'))
    return Normalized(name);
  if (name[0] == '$') {
    std::vector<char> out(kExpandBuffer);
    size_t n = RVExpand(name.c_str(), out.data(), out.size());
    if (n + 1 >= out.size()) return std::string();
    return Normalized(std::string(out.data(), n));
  }
  return InDir(dir_setting, name);
}

// The names of a FontFileList (at most kGUIFontFilesMax).
std::vector<std::string> ListNames(const char* list) {
  std::vector<std::string> names;
  const char* p = list;
  while (*p && static_cast<int>(names.size()) < kGUIFontFilesMax) {
    const char* start = p;
    while (*p && *p != ',') ++p;
    const char* end = p;
    if (*p) ++p;
    while (start < end && (*start == ' ' || *start == '\t' || *start == '\n' || *start == '\r')) ++start;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n' || end[-1] == '\r')) --end;
    if (end > start) names.emplace_back(start, end);
  }
  return names;
}

void ReportOpen(FontFileLevel level, const std::string& path, int err) {
  switch (level) {
    case FONT_FILE_USER:
      RVReportError("Error opening Current User font file: %s, errno: %d", path.c_str(), err);
      break;
    case FONT_FILE_ALL:
      RVReportError("Error opening All Users font file: %s, errno: %d", path.c_str(), err);
      break;
    case FONT_FILE_DEFAULT:
      RVReportError("Error opening default font file: %s, errno: %d", path.c_str(), err);
      break;
  }
}

// Reads one font file: 0, or the errno of opening it.
int ReadFontFile(const std::string& path, int* errors) {
  if (path.empty()) return ENAMETOOLONG;
  std::FILE* f = PlatFileOpen(path.c_str(), "r");
  if (!f) return errno ? errno : ENOENT;
  FontFileState st = NewFileState();
  RVReadTextStream(f, RV_COMMENT_LINE_START, FontLine, &st);
  std::fclose(f);
  *errors += st.errors;
  return 0;
}

// Reads the files of a FontFileList, reporting those that cannot be opened.
void ReadList(const char* list, const char* dir_setting, FontFileLevel level, int* errors) {
  for (const std::string& name : ListNames(list)) {
    std::string path = ListedPath(name, dir_setting);
    int err = ReadFontFile(path, errors);
    if (err) {
      ReportOpen(level, path.empty() ? name : path, err);
      (*errors)++;
    }
  }
}

bool Exists(const std::string& path) {
  PlatFileInfo info;
  return PlatFileStat(path.c_str(), &info) == 0;
}

// Measures of a font made without a display: fixed pitch at the dialog
// base unit.
PlatFontMetrics DisplaylessMetrics() {
  const PlatScreenMeasures* s = GUIScreen();
  PlatFontMetrics m;
  m.fixed_pitch = 1;
  m.avg_width = s->base_unit_x > 0 ? s->base_unit_x : 1;
  m.max_width = m.avg_width;
  m.line_height = s->base_unit_y > 0 ? s->base_unit_y : 1;
  m.descent = m.line_height / 4;
  return m;
}

// Whether the instance has a display to measure on; reports once per load
// when not.
bool HaveDisplay(const PlatWindowOps* ops, PlatScreenMeasures* m) {
  if (ops->screen_measures(m) == 0) return true;
  if (!g_fonts.dc_reported) {
    g_fonts.dc_reported = true;
    RVReportError("Cannot CreateDC() in _GUIGetDefHDC()");
  }
  return false;
}

// The instance of (class, set): made from its definition on first use;
// null when there is no definition or the window system cannot make it.
GUIFont* Instance(const char* cls, const char* set) {
  FontKey key = KeyOf(cls, set);
  auto found = g_fonts.fonts.find(key);
  if (found != g_fonts.fonts.end()) return found->second.get();
  if (g_fonts.failed.count(key)) return nullptr;
  auto def = g_fonts.classes.find(key);
  if (def == g_fonts.classes.end()) return nullptr;
  const GUIFontClass& d = def->second;
  const PlatWindowOps* ops = GUIWindowOps();
  auto font = std::make_unique<GUIFont>();
  font->cls = d.cls;
  font->set = d.set;
  font->font = nullptr;
  font->owned = 0;
  font->ops = ops;
  PlatScreenMeasures m;
  if (!HaveDisplay(ops, &m)) {
    font->metrics = DisplaylessMetrics();
  } else {
    PlatFontSpec request = {d.face.c_str(), GUIFontPixelHeight(d.points, m.res_y), d.weight, d.italic, d.underline};
    PlatFont* pf = ops->font_create(&request);
    if (!pf) {
      g_fonts.failed.insert(key);
      RVReportError("Error Creating Font: %s, %s", cls, set);
      return nullptr;
    }
    font->font = pf;
    font->owned = 1;
    if (ops->font_metrics(pf, &font->metrics) != 0) font->metrics = DisplaylessMetrics();
  }
  GUIFont* out = font.get();
  g_fonts.fonts.emplace(std::move(key), std::move(font));
  return out;
}

GUIFont* SystemFixed() {
  if (!g_fonts.system_fixed_ready) {
    const PlatWindowOps* ops = GUIWindowOps();
    GUIFont& f = g_fonts.system_fixed;
    f.cls.clear();
    f.set.clear();
    f.owned = 0;
    f.ops = ops;
    f.font = ops->font_system_fixed();
    if (!f.font || ops->font_metrics(f.font, &f.metrics) != 0) {
      f.font = nullptr;
      f.metrics = DisplaylessMetrics();
    }
    g_fonts.system_fixed_ready = true;
  }
  return &g_fonts.system_fixed;
}

void FreeAll() {
  for (auto& [key, font] : g_fonts.fonts)
    if (font->owned && font->font && font->ops) font->ops->font_free(font->font);
  g_fonts = FontRegistry();
}

int64_t ClampWidth(int64_t w) {
  if (w > INT32_MAX) return INT32_MAX;
  if (w < 0) return 0;
  return w;
}

}  // namespace

int GUIFontPixelHeight(double points, int res_y) {
  if (res_y <= 0) res_y = 96;
  double px = std::floor(points * res_y / 72.0 + 0.5);
  if (!(px >= 1)) return 1;
  if (px > kGUIFontPixelsMax) return kGUIFontPixelsMax;
  return static_cast<int>(px);
}

int GUILoadFontFiles() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  FreeAll();
  int errors = 0;

  // The user level.
  const char* list = GUIPrefUserValue("FontFileList");
  if (list && *list) {
    std::string copy = list;
    ReadList(copy.c_str(), "RV_APPDATA", FONT_FILE_USER, &errors);
  } else {
    std::string path = InDir("RV_APPDATA", kFontFile);
    if (Exists(path)) {
      if (int err = ReadFontFile(path, &errors)) {
        ReportOpen(FONT_FILE_USER, path, err);
        errors++;
      }
    }
  }

  // The all-users level.
  list = GUIPrefGlobalValue("FontFileList");
  if (list && *list) {
    std::string copy = list;
    ReadList(copy.c_str(), "RV_COMMONAPPDATA", FONT_FILE_ALL, &errors);
  } else {
    std::vector<std::string> candidates = {InDir("RV_COMMONAPPDATA", kFontFile)};
    for (const char* setting : {"etc_dir", "lib_dir"}) {
      const char* dir = RVGetEnv(setting);
      if (dir && *dir) candidates.push_back(Normalized(std::string(dir) + "/" + kFontFile));
    }
    int err = 0;
    for (const std::string& path : candidates) {
      err = ReadFontFile(path, &errors);
      if (!err) break;
    }
    if (err) {
      ReportOpen(FONT_FILE_DEFAULT, candidates.back(), err);
      errors++;
    }
  }

  // The title fonts.
  g_fonts.panel_title = GUIGetFont("pnltitle", kDefault, 1);
  g_fonts.radio_title = GUIGetFont("rbtitle", kDefault, 0);
  if (!g_fonts.radio_title) g_fonts.radio_title = GUIGetFont("rbgroup", kDefault, 1);
  return errors ? -1 : 0;
}

void GUIReadFontText(const char* text, size_t length) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  FontFileState st = NewFileState();
  RVReadTextLines(text, length, RV_COMMENT_LINE_START, FontLine, &st);
}

const GUIFontClass* GUIFindFontClass(const char* cls, const char* set) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  auto it = g_fonts.classes.find(KeyOf(cls, set && *set ? set : kDefault));
  return it == g_fonts.classes.end() ? nullptr : &it->second;
}

GUIFont* GUIGetFont(const char* cls, const char* set, int mandatory) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (!cls || !*cls) cls = kDefault;
  if (!set || !*set) set = kDefault;
  if (RVTextEqualNoCase(cls, "MBMenu")) return SystemFixed();
  if (GUIFont* f = Instance(cls, set)) return f;
  if (!mandatory) return nullptr;
  if (GUIFont* f = Instance(kDefault, set)) return f;
  if (GUIFont* f = Instance(cls, kDefault)) return f;
  if (GUIFont* f = Instance(kDefault, kDefault)) return f;
  return SystemFixed();
}

GUIFont* GUISystemFixedFont() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return SystemFixed();
}

GUIFont* GUIPanelTitleFont() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return g_fonts.panel_title ? g_fonts.panel_title : SystemFixed();
}

GUIFont* GUIRadioTitleFont() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return g_fonts.radio_title ? g_fonts.radio_title : SystemFixed();
}

const GUIFormCells* GUIFormCellDefaults() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return &g_fonts.cells_out;
}

int GUITextWidth(const GUIFont* font, const char* text, size_t length) {
  if (!font || !text) return 0;
  if (font->metrics.fixed_pitch || !font->font) {
    int64_t chars = 0;
    for (size_t i = 0; i < length; ++i)
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) chars++;
    return static_cast<int>(ClampWidth(chars * font->metrics.avg_width));
  }
  const PlatWindowOps* ops = font->ops ? font->ops : GUIWindowOps();
  return ops->text_width(font->font, text, length);
}

int GUICharsWidth(const GUIFont* font, int n, int numeric) {
  if (!font || n < 1) return 0;
  if (n > kGUICharsMax) n = kGUICharsMax;
  const PlatFontMetrics& m = font->metrics;
  if (m.fixed_pitch) return static_cast<int>(ClampWidth(int64_t{n} * m.avg_width));
  if (numeric) {
    std::string zeros(static_cast<size_t>(n), '0');
    return GUITextWidth(font, zeros.data(), zeros.size());
  }
  int percent = n < 2 ? 50 : n < 4 ? 40 : n < 8 ? 30 : n < 16 ? 20 : n < 32 ? 10 : 0;
  int64_t diff = int64_t{m.max_width} - m.avg_width;
  if (diff < 0) diff = 0;
  return static_cast<int>(ClampWidth(int64_t{n} * m.avg_width + diff * n * percent / 100));
}

void GUIFreeFonts() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  FreeAll();
}
