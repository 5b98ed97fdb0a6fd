// The serial number of the last script metadata accepted on this machine,
// kept in the machine registry so that no update source can take the
// machine back to an older publication.
#pragma once

#include <cstdint>
#include <string>

// Registry key (below HKEY_LOCAL_MACHINE) and value that hold it: text
// "<serial> <SHA-256 of the accepted metadata file, 64 hex digits>".
inline constexpr const char kUpdSerialKey[] = "SOFTWARE\\TQ Software\\TQUpdate\\ScriptMetadata";
inline constexpr const char kUpdSerialValue[] = "Accepted";

// The stored serial.
struct UpdStoredSerial {
  int present;            // 1 when a serial is stored
  uint64_t serial;        // the serial, when present
  std::string digest_hex; // SHA-256 of the metadata accepted with it, when present
};

// Reads the stored serial into *out. 0 (present or not), or -1 when the
// value exists but cannot be read as a serial and digest.
int UpdReadStoredSerial(UpdStoredSerial* out);

// Stores `serial` with the metadata's digest in one registry write (the
// hive is replaced in one step: a failed or interrupted write leaves the
// old value). 0, or -1.
int UpdStoreSerial(uint64_t serial, const std::string& digest_hex);
