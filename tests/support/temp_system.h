// A relocated system for tests: HOME_TQ, TQ_SYSTEM_ROOT, the shell folders
// and the profile all point into a fresh temporary directory, so nothing
// touches the host's own directories. Discovery is forgotten on entry and
// exit, and the environment is restored.
#pragma once

#include <map>
#include <string>

class TempSystem {
 public:
  TempSystem();
  ~TempSystem();
  TempSystem(const TempSystem&) = delete;
  TempSystem& operator=(const TempSystem&) = delete;

  // The temporary directory holding everything.
  const std::string& root() const { return root_; }
  // A path inside it.
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  // HOME_TQ of the relocated system (created).
  std::string home() const { return path("home-tq"); }

  // Sets an environment variable for the life of this object.
  void SetEnv(const char* name, const char* value);
  // Removes an environment variable for the life of this object.
  void UnsetEnv(const char* name);
  // Writes a file (creating its directories).
  void WriteFile(const std::string& relative, const std::string& text) const;
  // Reads a file; empty when missing.
  std::string ReadFile(const std::string& relative) const;

 private:
  std::string root_;
  std::map<std::string, std::pair<bool, std::string>> saved_;
};
