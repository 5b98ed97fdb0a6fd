// Internal interfaces of the POSIX installer: the package reader (libmsi),
// the cabinet extractor (libgcab), the installed-products database and the
// journal that makes every operation all-or-nothing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/installer/package.h"
#include "platform/installer/plan.h"
#include "platform/installer/record.h"
#include "platform/posix/installer_common/installer_log.h"

// --- The package (package_reader.cpp) ----------------------------------------

// Keeps the glib-based libraries from writing complaints to stderr (once
// per process).
void MsiQuietLibraries();

// Reads a package's Property table, and with `all_tables` the tables an
// installation needs. 0, or -1 when the file is missing or no package.
int MsiReadPackage(const std::string& path, bool all_tables, MsiPackage* pkg);

// Extracts the members of medium `media` named in `staged` (cabinet member
// name -> absolute staged path) to their staged paths and checks their sizes
// against `sizes` (member -> FileSize). 0, or -1 with the reason in *why (no
// cabinet, bad checksum, member missing, size differs).
int MsiExtractMedium(const MsiPackage& pkg, size_t media, const std::map<std::string, std::string>& staged,
                     const std::map<std::string, int64_t>& sizes, std::string* why);

// --- The database (product_db.cpp) -------------------------------------------

// TQ_SYSTEM_ROOT/installer, created when missing; "" when it cannot be made.
std::string MsiInstallerDir();

// Takes the machine's installation lock without waiting: 0 with the lock's
// descriptor in *fd, 1 when another installation holds it, -1 on failure.
int MsiLockAcquire(int* fd);

// Releases the installation lock.
void MsiLockRelease(int fd);

// Reads the record of `code` (upper case): 0, 1 when there is none, -1 when
// unreadable.
int MsiLoadRecord(const std::string& code, MsiProductRecord* rec);

// Writes a record in one step. 0 or -1.
int MsiSaveRecord(const MsiProductRecord& rec);

// Deletes the record of `code`; 0 also when there was none.
int MsiDeleteRecord(const std::string& code);

// Every record, ordered by product code. 0, or -1 when one cannot be read.
int MsiListRecords(std::vector<MsiProductRecord>* out);

// Writes the journal in one step. 0 or -1.
int MsiSaveJournal(const MsiJournal& j);

// Reads the journal: 0, 1 when there is none, -1 when it cannot be read
// now, -2 when what it holds is no journal.
int MsiLoadJournal(MsiJournal* j);

// Moves a journal that holds no journal aside (as "journal.bad"). 0 or -1.
int MsiSetJournalAside();

// Deletes the journal. 0 or -1.
int MsiDeleteJournal();

// MsiLog, the installer's log: platform/posix/installer_common/installer_log.h.

// --- Operations (transaction.cpp) --------------------------------------------

// With the lock held: finishes or undoes an operation that a journal shows
// was interrupted. 0 when nothing is left over, -1 when it could not be
// settled (the journal then stays for the next call).
int MsiRecover();

// Undoes the operation of the journal: staged files deleted, set-aside files
// put back, registry values restored, created directories removed, then the
// journal deleted. 0 or -1.
int MsiRollback(const MsiJournal& j);

// Finishes a committed operation: set-aside files deleted, directories left
// empty removed, replaced records deleted, then the journal deleted. 0 or -1.
int MsiFinish(const MsiJournal& j);

// Stops the named services (missing or stopped ones are skipped), waiting a
// bounded time for each to report stopped. 0, or -1 when one did not stop.
// A service that runs in this process, or in the process set by
// MsiSetCallerProcess, counts as stopped once it has been told to stop.
int MsiStopServices(const std::vector<std::string>& names);

// Names the process the installer works for (the installer host's client),
// whose own service cannot finish stopping before the operation returns.
void MsiSetCallerProcess(uint32_t pid);

// The current registry state of `values` as a script that restores it:
// each value set to its data now, or deleted when it does not exist.
std::string MsiUndoScript(const std::vector<std::pair<std::string, std::string>>& values);

// Applies a registry script in one step ("" = nothing). 0 or -1.
int MsiApplyRegistry(const std::string& script);

// A test hook: with TQ_TEST_MSI_CRASH_AT naming `point` the process kills
// itself there; with TQ_TEST_MSI_PAUSE_AT naming it, it creates the file
// TQ_TEST_MSI_PAUSE_FILE and waits (up to a minute) until that file is gone.
void MsiTestPoint(const char* point);

// A process-wide unique id for an operation.
std::string MsiNewTxnId();

// The host folders that well-known directory ids stand for.
MsiHostFolders MsiFolders();

// The package path as given ('\' turned into '/').
std::string MsiPackagePath(const char* path);

// --- Installation and removal (install.cpp) ---------------------------------

// Installs with the lock held. A Windows Installer result.
uint32_t MsiInstallLocked(const std::string& package_path, const std::vector<MsiProperty>& props,
                          const std::string& command_line);

// Removes a product with the lock held. A Windows Installer result.
uint32_t MsiRemoveLocked(const std::string& code);
