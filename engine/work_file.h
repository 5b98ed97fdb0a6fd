// The work file: pending work between checks and across restarts.
#pragma once

#include <string>
#include <vector>

// Set when the work file holds at least one entry still to be installed.
extern int g_upd_work_pending;

// The work file's path: "<RV_COMMONAPPDATA>/tqupd-work.txt".
const char* UpdWorkFilePath();

// The machine-wide name of one of the worker's objects:
// "Global\<RV_HOME>/<suffix>".
std::string UpdGlobalObjectName(const char* suffix);

// The name of the work mutex: "Global\<RV_HOME>/tqupd-work-mtx".
std::string UpdWorkMutexName();

struct PlatSecurityDescriptor;

// The descriptor of the worker's named objects (work mutex, request events):
// open to authenticated users; null (default security) when it cannot be
// built. Built once per process.
const PlatSecurityDescriptor* UpdWorkObjectsDescriptor();

// The descriptor of the install and check request events: the work
// objects' one, and every local user may signal them (never wait for them),
// so that any client program can ask for an installation or a check.
const PlatSecurityDescriptor* UpdRequestEventDescriptor();

// Reads the work file into a new work list (replacing the configuration's),
// rewrites the file through UpdSaveWorkFile and sets g_upd_work_pending when
// an entry is left; otherwise deletes the file and clears the list. No file:
// 0 with the list unchanged. A damaged file is deleted: -1.
int UpdReadWorkFile();

// Under the work mutex: checks the package of every skip-clear entry of the
// work list against the installed product (equal versions get the skip
// bit) and rewrites the work file with the others, one line each; no file
// when none is left. 0, or -1 when a package cannot be opened or the file
// cannot be written (the file then stays deleted).
int UpdSaveWorkFile();

// The package file names (the last part of each InstallFile) that the work
// file names, read without changing the file, appended to *names. 0, also
// when there is no work file; -1 when the file exists but cannot be read
// to its end (then no package is known to be free of pending work).
int UpdWorkFilePackages(std::vector<std::string>* names);
