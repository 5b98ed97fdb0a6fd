// Product records and the journal as text. Portable.
#include "platform/installer/record.h"

#include <cstdlib>

namespace {

constexpr const char kRecordMagic[] = "tq-installed-product 1";
constexpr const char kJournalMagic[] = "tq-installer-journal 1";

// A field with '\\', tab, line feed and carriage return escaped.
std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    switch (c) {
      case '\\': o += "\\\\"; break;
      case '\t': o += "\\t"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      default: o += c;
    }
  }
  return o;
}

// The field an escaped text stands for.
std::string Unescape(const std::string& s) {
  std::string o;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      o += s[i];
      continue;
    }
    char n = s[++i];
    o += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
  }
  return o;
}

// One line: keyword and fields.
void Line(std::string* out, const char* key, std::initializer_list<std::string> fields) {
  *out += key;
  for (const std::string& f : fields) {
    *out += '\t';
    *out += Escape(f);
  }
  *out += '\n';
}

// Splits the text into lines of fields (unescaped); the first line must be `magic`.
int Lines(const std::string& text, const char* magic, std::vector<std::vector<std::string>>* out) {
  out->clear();
  size_t i = 0;
  bool first = true;
  while (i < text.size()) {
    size_t e = text.find('\n', i);
    if (e == std::string::npos) return -1;  // a record always ends with a line feed
    std::string line = text.substr(i, e - i);
    i = e + 1;
    if (first) {
      if (line != magic) return -1;
      first = false;
      continue;
    }
    std::vector<std::string> fields;
    size_t k = 0;
    while (true) {
      size_t t = line.find('\t', k);
      fields.push_back(Unescape(line.substr(k, t == std::string::npos ? std::string::npos : t - k)));
      if (t == std::string::npos) break;
      k = t + 1;
    }
    out->push_back(std::move(fields));
  }
  return first ? -1 : 0;
}

}  // namespace

std::string MsiFormatRecord(const MsiProductRecord& rec) {
  std::string o = std::string(kRecordMagic) + "\n";
  Line(&o, "txn", {rec.txn});
  Line(&o, "code", {rec.product_code});
  Line(&o, "package", {rec.package_path});
  Line(&o, "cmdline", {rec.command_line});
  Line(&o, "time", {std::to_string(rec.install_time)});
  for (const auto& [k, v] : rec.properties) Line(&o, "prop", {k, v});
  for (const std::string& f : rec.files) Line(&o, "file", {f});
  for (const std::string& d : rec.dirs) Line(&o, "dir", {d});
  for (const MsiValueRef& v : rec.values) Line(&o, "value", {v.key, v.name});
  for (const std::string& s : rec.stop_on_remove) Line(&o, "stop", {s});
  Line(&o, "end", {});
  return o;
}

int MsiParseRecord(const std::string& text, MsiProductRecord* rec) {
  *rec = MsiProductRecord{};
  std::vector<std::vector<std::string>> lines;
  if (Lines(text, kRecordMagic, &lines) != 0) return -1;
  bool ended = false;
  for (const auto& f : lines) {
    const std::string& k = f[0];
    if (k == "txn" && f.size() > 1) rec->txn = f[1];
    else if (k == "code" && f.size() > 1) rec->product_code = f[1];
    else if (k == "package" && f.size() > 1) rec->package_path = f[1];
    else if (k == "cmdline" && f.size() > 1) rec->command_line = f[1];
    else if (k == "time" && f.size() > 1) rec->install_time = std::strtoll(f[1].c_str(), nullptr, 10);
    else if (k == "prop" && f.size() > 2) rec->properties[f[1]] = f[2];
    else if (k == "file" && f.size() > 1) rec->files.push_back(f[1]);
    else if (k == "dir" && f.size() > 1) rec->dirs.push_back(f[1]);
    else if (k == "value" && f.size() > 2) rec->values.push_back({f[1], f[2]});
    else if (k == "stop" && f.size() > 1) rec->stop_on_remove.push_back(f[1]);
    else if (k == "end") ended = true;
  }
  return ended && !rec->product_code.empty() ? 0 : -1;
}

std::string MsiFormatJournal(const MsiJournal& j) {
  std::string o = std::string(kJournalMagic) + "\n";
  Line(&o, "txn", {j.txn});
  Line(&o, "op", {j.op});
  Line(&o, "code", {j.product_code});
  for (const std::string& r : j.replaced) Line(&o, "replaced", {r});
  for (const std::string& d : j.new_dirs) Line(&o, "newdir", {d});
  for (const MsiJournalFile& f : j.files) Line(&o, "file", {f.target, f.staged, f.backup});
  for (const std::string& d : j.cleanup_dirs) Line(&o, "cleanup", {d});
  Line(&o, "undo", {j.undo_registry});
  Line(&o, "end", {});
  return o;
}

int MsiParseJournal(const std::string& text, MsiJournal* j) {
  *j = MsiJournal{};
  std::vector<std::vector<std::string>> lines;
  if (Lines(text, kJournalMagic, &lines) != 0) return -1;
  bool ended = false;
  for (const auto& f : lines) {
    const std::string& k = f[0];
    if (k == "txn" && f.size() > 1) j->txn = f[1];
    else if (k == "op" && f.size() > 1) j->op = f[1];
    else if (k == "code" && f.size() > 1) j->product_code = f[1];
    else if (k == "replaced" && f.size() > 1) j->replaced.push_back(f[1]);
    else if (k == "newdir" && f.size() > 1) j->new_dirs.push_back(f[1]);
    else if (k == "file" && f.size() > 3) j->files.push_back({f[1], f[2], f[3]});
    else if (k == "cleanup" && f.size() > 1) j->cleanup_dirs.push_back(f[1]);
    else if (k == "undo" && f.size() > 1) j->undo_registry = f[1];
    else if (k == "end") ended = true;
  }
  return ended && !j->txn.empty() && (j->op == "install" || j->op == "remove") ? 0 : -1;
}

bool MsiProductCodeValid(const std::string& code) {
  if (code.empty() || code.size() > 38) return false;
  for (char c : code) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '{' ||
              c == '}';
    if (!ok) return false;
  }
  return true;
}

std::string MsiUpper(const std::string& code) {
  std::string u = code;
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}
