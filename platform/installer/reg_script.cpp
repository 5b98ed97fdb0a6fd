// Registry scripts of the installer. Portable.
#include "platform/installer/reg_script.h"

#include "platform/registry.h"
#include "platform/registry_text.h"

namespace {

constexpr const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
constexpr const char kRoot[] = "HKEY_LOCAL_MACHINE\\";

// Appends a value name in quotes, with '\\' and '"' escaped.
void AppendQuoted(std::string* out, const std::string& s) {
  out->push_back('"');
  for (char c : s) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

}  // namespace

std::string MsiRegScript(const std::vector<MsiRegChange>& changes) {
  if (changes.empty()) return std::string();
  std::string out = kHeader;
  for (const MsiRegChange& c : changes) {
    if (c.kind == MSI_REG_DELETE_KEY) {
      out += "[-" + std::string(kRoot) + c.key + "]\n\n";
    } else if (c.kind == MSI_REG_DELETE_VALUE) {
      out += "[" + std::string(kRoot) + c.key + "]\n";
      if (c.name.empty()) {
        out += "@";
      } else {
        AppendQuoted(&out, c.name);
      }
      out += "=-\n\n";
    } else {
      // The value lines as the registry's own writer makes them.
      PlatRegNode node;
      std::string data = c.data;
      if (c.type == PLAT_REG_SZ || c.type == PLAT_REG_EXPAND_SZ) data.push_back('\0');
      node.values.push_back({c.name, c.type, data});
      std::string text = PlatRegFormat(node, kRoot + c.key);
      size_t start = text.find("\n\n");
      out += start == std::string::npos ? text : text.substr(start + 2);
    }
  }
  return out;
}
