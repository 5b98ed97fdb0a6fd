// The tqfs transport: a file read remotely from the maker's server.
#pragma once

// Copies the remote file `remote_name` from the configured Server into
// `local_path`. 0 when the whole file was copied; -1 otherwise, logged, with
// no local file left behind.
int UpdTqfsFetch(const char* remote_name, const char* local_path);
