// The registry's text form: the in-memory key tree and the ".reg" script
// that holds it. Portable; internal to the registry concern.
//
// The script:
//   Windows Registry Editor Version 5.00
//   <blank line>
//   [HKEY_LOCAL_MACHINE\SOFTWARE\TQ Software]
//   "Name"="text with \\ and \" escaped"
//   @="the default value"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,ff,\      (a '\' last on the line: continued below)
//     00
//   "Path"=hex(2):25,00,41,00,25,00,00,00
//   "Gone"=-
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]
//
// Text is 8-bit. REG_EXPAND_SZ values, and REG_SZ values holding a line
// break, are written as hex(2):/hex(1): with one 16-bit little-endian code
// unit per byte (the byte's value), as a UTF-16LE script would hold them, so
// every byte value survives; on reading, hex(1)/hex(2) data that has that
// shape is taken as UTF-16LE (code units above 255 become '?'), any other as
// the 8-bit text itself. Every other type keeps its raw bytes (hex(N):).
// A script starting with a UTF-16LE byte order mark is read as UTF-16LE.
// Lines end in "\n" ("\r\n" is read too); ';' starts a comment line; a
// line ending in '\' inside hex data continues on the next line.
//
// Reading is lenient or strict. Lenient (the hive itself): a malformed line
// is skipped and counted, and the rest is still read; a malformed section
// header, or one of another root, makes the values up to the next header
// skipped with it. Strict (an imported script): the first malformed line is
// an error and nothing may be applied. Malformed means: not a comment, blank
// line, header line, section header or value line of the forms above;
// a key component that is empty, longer than 255 characters or holds a
// control character or '/'; a path deeper than 512 levels; a value name
// longer than 16,383 characters or holding a zero byte; a quoted text
// without its closing quote or holding a zero byte; hex data that is not
// two-digit bytes separated by commas; a dword of more than 8 digits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Longest key name component, longest value name, deepest key path.
constexpr size_t kPlatRegMaxKeyName = 255;
constexpr size_t kPlatRegMaxValueName = 16383;
constexpr size_t kPlatRegMaxDepth = 512;

// One value of a key.
struct PlatRegEntry {
  std::string name; // as first written; "" = the key's default value
  uint32_t type;    // PLAT_REG_* or any other registry type number
  std::string data; // the bytes a query returns (text: with its terminator)
};

// One key with its values and subkeys, both in file order.
struct PlatRegNode {
  std::string name;                               // as first written (case kept)
  std::vector<PlatRegEntry> values;               // file order
  std::vector<std::unique_ptr<PlatRegNode>> keys; // file order
};

// What reading a script met.
struct PlatRegParseResult {
  int lines_skipped; // malformed lines skipped (lenient reading)
  int bad_line;      // first malformed line, 1-based; 0 = none
};

// True when two names are equal without regard to the case of A-Z.
bool PlatRegNameEqual(std::string_view a, std::string_view b);

// The direct subkey named `name` (any case), or null.
PlatRegNode* PlatRegFindKey(const PlatRegNode* key, std::string_view name);

// Index of the value named `name` (any case) in key->values, or -1.
int PlatRegFindValue(const PlatRegNode* key, std::string_view name);

// True when `name` may name a key (length, characters).
bool PlatRegKeyNameValid(std::string_view name);

// True when `name` may name a value (length, characters).
bool PlatRegValueNameValid(std::string_view name);

// Sets (replacing in place, keeping the first name's case) or appends a
// value; text types are cut at their first zero byte and get a terminator.
// False when the value was there already with that type and data.
bool PlatRegPutValue(PlatRegNode* key, std::string_view name, uint32_t type, std::string_view data);

// Turns a script's bytes into 8-bit text: a UTF-16LE script (byte order
// mark FF FE) is narrowed, a UTF-8 byte order mark is dropped.
std::string PlatRegDecodeScript(const std::string& bytes);

// Applies the script `text` (decoded) to the tree under `root` (the
// HKEY_LOCAL_MACHINE node). Strict: stops at the first malformed line,
// which is reported in result->bad_line, and needs the header line; the
// tree may then be partly changed, so a caller validates on a scratch tree
// first. Lenient: skips malformed lines and counts them.
void PlatRegParse(const std::string& text, bool strict, PlatRegNode* root, PlatRegParseResult* result);

// The script of `key` and everything below it, with the header line; `path`
// is the key's full name ("HKEY_LOCAL_MACHINE\\SOFTWARE"). A section is
// written for every key, except for a root (`path` without '\') that has no
// values.
std::string PlatRegFormat(const PlatRegNode& key, const std::string& path);
