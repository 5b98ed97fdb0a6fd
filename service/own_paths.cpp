// The service's own directories and files, made safe at start.
#include "service/own_paths.h"

#include <string>
#include <vector>

#include "engine/config.h"
#include "engine/work_file.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/message.h"

namespace {

// One path the service keeps as its own.
struct OwnPath {
  std::string path; // absolute path
  int is_dir;       // 1 for a directory
};

// The directories (outermost first) and files the service creates.
std::vector<OwnPath> OwnPaths() {
  std::vector<OwnPath> list;
  auto dir = [&list](const std::string& p) { list.push_back({p, 1}); };
  auto file = [&list](const std::string& p) { list.push_back({p, 0}); };
  const char* home = RVGetEnv("RV_HOME");
  const char* common = RVGetEnv("RV_COMMONAPPDATA");
  const char* temp = RVGetEnv("RV_TEMP");
  std::string product = std::string(home ? home : ".") + "/TQUpdate";
  if (home && *home) dir(home);
  dir(product);
  for (const char* sub : {"/Log", "/Work", "/Config", "/bin"}) dir(product + sub);
  if (common && *common) dir(common);
  if (temp && *temp) dir(temp);
  std::string system = PlatSystemRoot();
  dir(system);
  for (const char* sub : {"registry", "services", "installer", "objects", "events"}) dir(PlatSystemPath(sub));
  std::string log = product + "/Log/tqupd-log.txt";
  file(log);
  file(log + ".1");
  if (common && *common) file(std::string(common) + "/tqupd-msg.txt");
  file(UpdWorkFilePath());
  file(UpdConfigPath());
  file(std::string(UpdConfigPath()) + "-bu");
  file(PlatSystemPath("registry/HKLM.reg"));
  return list;
}

}  // namespace

int UpdSecureOwnPaths() {
  int refused = 0;
  char me[256];
  PlatUserNameOf(PlatEffectiveUserId(), me, sizeof me);
  for (const OwnPath& p : OwnPaths()) {
    uint32_t old_mode = 0, owner = 0;
    if (PlatSecureOwnPath(p.path.c_str(), p.is_dir, &old_mode, &owner) == 0) {
      if (old_mode != 0)
        UpdMessage(9, "Narrowed Access: %s - mode %04o was writable by others, now %04o", p.path.c_str(),
                   static_cast<unsigned>(old_mode), static_cast<unsigned>(old_mode & 07755 & ~01000u));
      continue;
    }
    ++refused;
    PlatFileInfo info;
    char name[256];
    PlatUserNameOf(owner, name, sizeof name);
    if (PlatFileStat(p.path.c_str(), &info) == 0 && info.is_link) {
      UpdMessage(9, "Refusing %s: %s - a symbolic link, owned by %s", p.is_dir ? "Directory" : "File",
                 p.path.c_str(), name);
    } else if (owner != PlatEffectiveUserId()) {
      UpdMessage(9, "Refusing %s: %s - owned by %s, not by %s", p.is_dir ? "Directory" : "File", p.path.c_str(),
                 name, me);
    } else {
      UpdMessage(9, "Refusing %s: %s - not a %s", p.is_dir ? "Directory" : "File", p.path.c_str(),
                 p.is_dir ? "directory" : "regular file");
    }
  }
  return refused;
}
