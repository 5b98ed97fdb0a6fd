// A relocated system for tests.
#include "tests/support/temp_system.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "runtime/env.h"

TempSystem::TempSystem() {
  char tmpl[] = "/tmp/tqtest-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) throw std::runtime_error("mkdtemp failed");
  root_ = dir;
  std::filesystem::create_directories(home());
  std::filesystem::create_directories(path("system"));
  std::filesystem::create_directories(path("programs"));
  std::filesystem::create_directories(path("common"));
  std::filesystem::create_directories(path("appdata"));
  std::filesystem::create_directories(path("documents"));
  SetEnv("HOME_TQ", home().c_str());
  SetEnv("TQ_SYSTEM_ROOT", path("system").c_str());
  SetEnv("TQ_FOLDER_PROGRAM_FILES", path("programs").c_str());
  SetEnv("TQ_FOLDER_COMMON_APPDATA", path("common").c_str());
  SetEnv("TQ_FOLDER_APPDATA", path("appdata").c_str());
  SetEnv("TQ_FOLDER_DOCUMENTS", path("documents").c_str());
  SetEnv("PROFILETQENV", path("PROFILE.TQ").c_str());
  for (const char* n : {"XLCONFIG", "config_fn", "base_dir", "RV_TEMP", "tmp_dir", "bin_dir", "etc_dir", "lib_dir",
                        "RV_HOME", "RV_COMMONAPPDATA", "RV_APPDATA", "RV_DOCUMENTS", "RV_IMAGES", "RV_CLIMAGES"})
    UnsetEnv(n);
  RVResetForTest();
}

TempSystem::~TempSystem() {
  RVResetForTest();
  for (auto& [name, v] : saved_) {
    if (v.first) ::setenv(name.c_str(), v.second.c_str(), 1);
    else ::unsetenv(name.c_str());
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void TempSystem::SetEnv(const char* name, const char* value) {
  if (!saved_.count(name)) {
    const char* old = ::getenv(name);
    saved_[name] = {old != nullptr, old ? old : ""};
  }
  ::setenv(name, value, 1);
}

void TempSystem::UnsetEnv(const char* name) {
  if (!saved_.count(name)) {
    const char* old = ::getenv(name);
    saved_[name] = {old != nullptr, old ? old : ""};
  }
  ::unsetenv(name);
}

void TempSystem::WriteFile(const std::string& relative, const std::string& text) const {
  std::filesystem::path p = path(relative);
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

std::string TempSystem::ReadFile(const std::string& relative) const {
  std::ifstream in(path(relative), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
