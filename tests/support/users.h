// Real users for security tests: the users' group of the named objects, an
// unprivileged user outside it and one inside it, and running programs or
// child roles as them.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One local user a test acts as.
struct TqUser {
  std::string name; // login name
  uid_t uid;        // user id
  gid_t gid;        // primary group id
};

// True when the tests run as the administrator (security tests need it).
bool TqIsAdmin();

// Makes sure the users' group exists; its group id, or -1 (not administrator).
long TqUsersGroup();

// A user outside the users' group ("tqattacker", created when missing).
TqUser TqOutsider();

// A user inside the users' group ("tqmember", created when missing).
TqUser TqMember();

// The shell prefix that runs a command as `user` with exactly its groups.
std::string TqAsUser(const TqUser& user);

// Runs a child role of the test program as `user`; its exit code.
int TqRunChildAs(const TqUser& user, const char* role, const std::vector<std::string>& args = {});

// Lets every user reach everything below the relocated system's root
// directory (directories 0755 up to `root`), as on a real host.
void TqOpenTreeForUsers(const std::string& root);
