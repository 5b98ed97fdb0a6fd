// Security descriptors: portable logic over the account kinds.
#include "platform/security.h"

#include <cstring>

#include "platform/error.h"

int PlatAllocateSid(PlatSidKind kind, PlatSid* sid) {
  if (!sid) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  sid->kind = kind;
  sid->valid = 1;
  return 0;
}

void PlatFreeSid(PlatSid* sid) {
  if (sid) sid->valid = 0;
}

int PlatInitSecurityDescriptor(PlatSecurityDescriptor* desc) {
  if (!desc) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::memset(desc, 0, sizeof *desc);
  desc->initialized = 1;
  desc->file_mode = 0600;
  desc->dir_mode = 0700;
  return 0;
}

int PlatInitAcl(PlatAcl* acl, uint32_t size, uint32_t revision) {
  if (!acl || size < 8 || revision != 2) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::memset(acl, 0, sizeof *acl);
  acl->size = size;
  acl->revision = revision;
  acl->initialized = 1;
  return 0;
}

int PlatAddAccessAllowed(PlatAcl* acl, const PlatSid* sid) {
  if (!acl || !acl->initialized || !sid || !sid->valid) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // An entry for a well-known identifier takes 20 bytes on Windows; the list
  // header takes 8.
  if (acl->count >= 3 || 8 + (acl->count + 1) * 20 > acl->size) {
    PlatSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  acl->sids[acl->count++] = sid->kind;
  return 0;
}

int PlatSetSecurityDescriptorAcl(PlatSecurityDescriptor* desc, const PlatAcl* acl) {
  if (!desc || !desc->initialized || !acl || !acl->initialized) {
    PlatSetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  desc->acl = *acl;
  desc->has_acl = 1;
  desc->file_mode = 0600;
  desc->dir_mode = 0700;
  desc->users_group = 0;
  for (uint32_t i = 0; i < acl->count; ++i) {
    if (acl->sids[i] == PLAT_SID_AUTHENTICATED_USERS) {
      // Read and write for the users' group; nothing for others.
      desc->file_mode = 0660;
      desc->dir_mode = 0750;
      desc->users_group = 1;
    }
  }
  return 0;
}

void PlatAllowSignalByAll(PlatSecurityDescriptor* desc) {
  if (desc) desc->signal_by_all = 1;
}

uint32_t PlatSecurityFileMode(const PlatSecurityDescriptor* desc) {
  return desc && desc->initialized ? desc->file_mode : 0600;
}
