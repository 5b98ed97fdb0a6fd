// Script metadata: the signed text published beside the update script that
// binds one publication together. It carries a serial number that rises
// with every publication, an expiry time, the SHA-256 and length of the
// script, and for every package the script names its file name, the
// product it may be installed as, its length, its SHA-256 and whether it
// may replace a newer installed version. Format (version 1), one field a
// line, every line ended by a line feed, printable ASCII only:
//
//   TQUpdate-Script-Metadata 1
//   Serial 42
//   Expires 2027-01-31T00:00:00Z
//   Script 1834 <64 lower-case hex digits>
//   Package tqdemo-win64.msi tqdemo-win64 40960 <64 hex digits>
//   Package tqold-win64.msi tqold-win64 36864 <64 hex digits> Downgrade
//   Signature <Base64>
//
// The body is every byte before the Signature line; the signature covers
// the fixed context of fetch/metadata_signature.h and the body. Names are
// written with every byte outside "!" to "~", and "%", as "%XX".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fetch/metadata_signature.h"

// The first line of every version-1 metadata file.
inline constexpr const char kUpdMetadataHeader[] = "TQUpdate-Script-Metadata 1";

// Most bytes of a metadata file, package lines in one, and characters of
// one line (its line feed not counted).
constexpr int64_t kUpdMetadataMaxBytes = 1 << 20;
constexpr int kUpdMetadataMaxPackages = 1000;
constexpr int kUpdMetadataMaxLine = 1024;

// Largest length a Script or Package line may give: 1 TiB.
constexpr int64_t kUpdMetadataMaxLength = int64_t{1} << 40;

// One package line.
struct UpdMetaPackage {
  std::string file;       // the package's file name (the last part of its InstallFile)
  std::string product;    // the product name (Name) it may be installed as
  int64_t length;         // its length in bytes, 1 or more
  UpdSha256Digest sha256; // its SHA-256
  int downgrade;          // 1: marked as an intended downgrade of the product
};

// A metadata file as read.
struct UpdScriptMetadata {
  uint64_t serial;                      // 1 to 2^64-1, rising with every publication
  int64_t expires;                      // expiry, seconds since 1970 UTC
  int64_t script_length;                // the script's length in bytes
  UpdSha256Digest script_sha256;        // the script's SHA-256
  std::vector<UpdMetaPackage> packages; // in file order, file names distinct
  std::string body;                     // the signed bytes: everything before the Signature line
  std::vector<unsigned char> signature; // the decoded signature
};

// Reads metadata text. 0 with *out filled, or -1 with the reason in *error
// (naming the line). The signature is decoded, not verified.
int UpdParseScriptMetadata(const std::string& text, UpdScriptMetadata* out, std::string* error);

// The body text of `meta` (its serial, expiry, script and packages; the
// body and signature fields are not used), in the form the reader takes.
std::string UpdScriptMetadataBody(const UpdScriptMetadata& meta);

// The whole metadata text: `body` and the Signature line of `signature`.
std::string UpdScriptMetadataText(const std::string& body, const std::vector<unsigned char>& signature);

// The package line for the file name `file`, or null.
const UpdMetaPackage* UpdMetadataPackage(const UpdScriptMetadata& meta, const std::string& file);

// Reads a serial: decimal digits without a leading zero, 1 to 2^64-1.
// 0, or -1.
int UpdParseSerial(const std::string& text, uint64_t* out);

// Reads "YYYY-MM-DDTHH:MM:SSZ" (UTC, years 1970-9999) into seconds since
// 1970. 0, or -1 when the text is no such time.
int UpdParseUtcTime(const std::string& text, int64_t* out);

// The "YYYY-MM-DDTHH:MM:SSZ" text of seconds since 1970 (0 to year 9999).
std::string UpdUtcTimeText(int64_t seconds);

// Lower-case hexadecimal of a digest.
std::string UpdDigestHex(const UpdSha256Digest& digest);

// Strict Base64 (standard alphabet, "=" padding, no other characters, zero
// unused bits) into bytes. 0, or -1.
int UpdBase64Strict(const std::string& text, std::vector<unsigned char>* out);

// Base64 of bytes (standard alphabet, "=" padding, one line).
std::string UpdBase64(const std::vector<unsigned char>& data);

// The name of the metadata file published beside `script`: the script's
// name with the extension of its last part replaced by ".sig"
// ("/upd/updscript.txt" gives "/upd/updscript.sig"); ".sig" is appended
// when that part has no extension or already ends in ".sig".
std::string UpdScriptMetadataName(const std::string& script);
