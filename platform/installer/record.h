// The installed-products database and the installer's journal as text.
// Portable: the files themselves are kept by the POSIX installer.
//
// Both are line files: a keyword, a tab, then tab-separated fields in which
// '\\', tab, line feed and carriage return are written "\\\\", "\\t", "\\n",
// "\\r". Unknown keywords are skipped, so a later version may add lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A registry value the installer wrote, by key path and name.
struct MsiValueRef {
  std::string key;  // below HKEY_LOCAL_MACHINE, '\' separated
  std::string name; // "" = default value
};

// One installed product.
struct MsiProductRecord {
  std::string txn;                               // id of the installation that wrote the record
  std::string product_code;                      // ProductCode, upper case
  std::map<std::string, std::string> properties; // the package's Property table as installed
  std::string package_path;                      // the package installed from
  std::string command_line;                      // the property string it was installed with
  int64_t install_time;                          // seconds since 1970 UTC
  std::vector<std::string> files;                // installed files (absolute paths)
  std::vector<std::string> dirs;                 // directories the installations created, parents first
  std::vector<MsiValueRef> values;               // registry values written
  std::vector<std::string> stop_on_remove;       // services stopped when the product is removed
};

// A file the journal moves: a new file staged beside its target, or an old
// one set aside.
struct MsiJournalFile {
  std::string target; // the file's place
  std::string staged; // the new content beside it ("" for a file being dropped)
  std::string backup; // where the old content is set aside ("" when there is none)
};

// An operation in progress: enough to undo it or to finish it.
struct MsiJournal {
  std::string txn;                    // id of the operation
  std::string op;                     // "install" or "remove"
  std::string product_code;           // the product installed or removed
  std::vector<std::string> replaced;  // other product codes the installation takes over
  std::vector<std::string> new_dirs;  // directories the operation creates, parents first
  std::vector<MsiJournalFile> files;  // staged and set-aside files
  std::string undo_registry;          // registry script that restores the values as they were
  std::vector<std::string> cleanup_dirs; // directories a removal leaves when empty, parents first
};

// Text of a product record / a journal.
std::string MsiFormatRecord(const MsiProductRecord& rec);
std::string MsiFormatJournal(const MsiJournal& j);

// Reads them back: 0, or -1 when the text is no record (journal) at all.
int MsiParseRecord(const std::string& text, MsiProductRecord* rec);
int MsiParseJournal(const std::string& text, MsiJournal* j);

// True when `code` may name a product ({GUID}-like: letters, digits, '-',
// '{', '}', 1 to 38 characters).
bool MsiProductCodeValid(const std::string& code);

// `code` in upper case.
std::string MsiUpper(const std::string& code);
