// The worker's work directory, where scripts, signatures and packages are
// fetched and from where packages are installed.
#pragma once

// The work directory's absolute path as the worker entered it (at most 260
// characters), or "" before the worker has entered it.
const char* UpdWorkDir();

// Remembers the work directory's path (cut to 260 characters).
void UpdSetWorkDir(const char* path);
