// The work file: pending work between checks and across restarts.
#pragma once

// Set when the work file holds at least one entry still to be installed.
extern int g_upd_work_pending;

// The work file's path: "<RV_COMMONAPPDATA>/tqupd-work.txt".
const char* UpdWorkFilePath();

// Reads the work file into a new work list and sets g_upd_work_pending
// when an entry is left; otherwise deletes the file. 0 or -1.
int UpdReadWorkFile();

// Rewrites the work file with the work list's pending entries (no file when
// none is left). 0 or -1.
int UpdSaveWorkFile();
