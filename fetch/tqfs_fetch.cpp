// The tqfs transport until remote file access is built: the remote
// connection cannot be opened, so every fetch fails the way an unreachable
// server does, and, as after any failed fetch, no local file remains.
#include "fetch/tqfs_fetch.h"

#include "fetch/fetch_settings.h"
#include "platform/file.h"
#include "runtime/message.h"

int UpdTqfsFetch(const char*, const char* local_path) {
  const char* server = g_upd_fetch.server.c_str();
  UpdMessage(9, "Failed to OpenRemote Connection to: %s", server);
  if (local_path && *local_path) PlatDeleteFile(local_path);
  return -1;
}
