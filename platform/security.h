// Security identifiers, access lists and descriptors for named objects.
//
// A descriptor stands for the permission modes given to the files behind
// named objects and shared files. Access for the local system account and the
// administrators maps to the owner (root); access for authenticated users maps
// to the members of the system group "tqusers" (kPlatUsersGroup), who may
// hold and wait for the objects. Everyone else may at most signal an event
// whose descriptor allows it (PlatAllowSignalByAll): what a client program
// needs to ask the service for an installation or a check.
#pragma once

#include <cstdint>

// The well-known accounts the system grants access to.
enum PlatSidKind {
  PLAT_SID_LOCAL_SYSTEM,        // S-1-5-18
  PLAT_SID_ADMINISTRATORS,      // S-1-5-32-544
  PLAT_SID_AUTHENTICATED_USERS, // S-1-5-11
};

// One security identifier.
struct PlatSid {
  PlatSidKind kind; // which account
  int valid;        // 1 once built
};

// An access list of at most three access-allowed entries.
struct PlatAcl {
  uint32_t size;         // bytes reserved for the list, as on Windows
  uint32_t revision;     // list revision (2)
  uint32_t count;        // entries in use
  PlatSidKind sids[3];   // the accounts granted full access
  int initialized;       // 1 once initialised
};

// The system group whose members stand for the authenticated users.
constexpr const char kPlatUsersGroup[] = "tqusers";

// A security descriptor: a list and the modes that follow from it.
struct PlatSecurityDescriptor {
  int initialized;      // 1 once initialised
  int has_acl;          // 1 when an access list is set
  PlatAcl acl;          // the access list
  uint32_t file_mode;   // mode for files created under it
  uint32_t dir_mode;    // mode for directories created under it
  int users_group;      // 1: files belong to the group kPlatUsersGroup
  int signal_by_all;    // 1: everyone may signal an event made under it
};

// Builds a well-known identifier; 0, or -1 with the last error.
int PlatAllocateSid(PlatSidKind kind, PlatSid* sid);

// Releases an identifier built by PlatAllocateSid.
void PlatFreeSid(PlatSid* sid);

// Initialises an empty descriptor (owner-only modes).
int PlatInitSecurityDescriptor(PlatSecurityDescriptor* desc);

// Initialises an access list of `size` bytes and `revision`.
int PlatInitAcl(PlatAcl* acl, uint32_t size, uint32_t revision);

// Adds an entry granting full access (inherited by objects and containers).
int PlatAddAccessAllowed(PlatAcl* acl, const PlatSid* sid);

// Sets the access list of the descriptor and derives its modes.
int PlatSetSecurityDescriptorAcl(PlatSecurityDescriptor* desc, const PlatAcl* acl);

// File mode for objects created under `desc`, or owner-only when null.
uint32_t PlatSecurityFileMode(const PlatSecurityDescriptor* desc);

// Lets everyone signal (never wait for, hold or reset) events created under
// `desc`.
void PlatAllowSignalByAll(PlatSecurityDescriptor* desc);

// Creates the system group kPlatUsersGroup when it does not exist yet: 0,
// or -1 with the last error (5 when the process is not the administrator).
int PlatEnsureUsersGroup();

// 1 when the system group kPlatUsersGroup exists, else 0.
int PlatUsersGroupExists();
