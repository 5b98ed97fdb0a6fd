// Program paths inside command lines.
#include "runtime/command_path.h"

#include <cstring>

std::string RVCommandProgram(const char* path) {
  if (!path) return "";
  if (!std::strpbrk(path, " \t")) return path;
  return std::string("\"") + path + "\"";
}
