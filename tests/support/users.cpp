// Real users for security tests.
#include "tests/support/users.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "platform/security.h"
#include "tests/support/child.h"

namespace {

// Creates the user `name` when missing (no home, no login), in the users'
// group when `member`.
// Tests running at the same time may create the same user or group; the
// system's tools then fail on the other's lock for a moment: try again.
TqUser EnsureUser(const char* name, bool member) {
  for (int attempt = 0; attempt < 50 && !::getpwnam(name); ++attempt) {
    std::string cmd = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") + name;
    if (TqRunCommand(cmd) != 0) ::usleep(100 * 1000);
  }
  if (member) {
    TqUsersGroup();
    std::string cmd = std::string("usermod -a -G ") + kPlatUsersGroup + " " + name;
    for (int attempt = 0; attempt < 50 && TqRunCommand(cmd) != 0; ++attempt) ::usleep(100 * 1000);
  }
  struct passwd* pw = ::getpwnam(name);
  if (!pw) throw std::runtime_error(std::string("cannot create user ") + name);
  return TqUser{name, pw->pw_uid, pw->pw_gid};
}

}  // namespace

bool TqIsAdmin() { return ::geteuid() == 0; }

long TqUsersGroup() {
  if (!TqIsAdmin()) return -1;
  for (int attempt = 0; attempt < 50 && PlatEnsureUsersGroup() != 0; ++attempt) ::usleep(100 * 1000);
  struct group* gr = ::getgrnam(kPlatUsersGroup);
  return gr ? static_cast<long>(gr->gr_gid) : -1;
}

TqUser TqOutsider() { return EnsureUser("tqattacker", false); }

TqUser TqMember() { return EnsureUser("tqmember", true); }

std::string TqAsUser(const TqUser& user) {
  return "setpriv --reuid=" + std::to_string(user.uid) + " --regid=" + std::to_string(user.gid) +
         " --init-groups -- ";
}

int TqRunChildAs(const TqUser& user, const char* role, const std::vector<std::string>& args) {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  self[n] = '\0';
  std::string cmd = TqAsUser(user) + "'" + self + "' --tq-child " + role;
  for (const std::string& a : args) cmd += " '" + a + "'";
  std::string out;
  return TqRunCommand(cmd, &out);
}

void TqOpenTreeForUsers(const std::string& root) {
  std::error_code ec;
  ::chmod(root.c_str(), 0755);
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
}
