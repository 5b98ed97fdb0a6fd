// UpdFetchFile: the one operation through which the update engine gets a
// file from the update source over the configured Protocol, and the name
// normalisation that every fetched and derived file name goes through.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of a name buffer: names are cut to their first 260 characters.
constexpr size_t kUpdNameSize = 261;

// Copies `in` (null = empty) into `out`, cut to 260 characters, and
// normalises the copy: every "\" becomes "/"; a "/" at position 3 or more of
// the copy that would follow a "/" already written is dropped, except that
// in a URL ("http://", "https://", "file://", "ftp://", "gopher://",
// "telnet://", "news://", "wais://", any case) the first such "/" is kept.
// So a leading "//" and the "//" after a URL's scheme stay, later doubled
// separators collapse.
void UpdNormalizeName(const char* in, char out[kUpdNameSize]);

// Most bytes of the small files of a check. Only their first line
// (md.txt: 255 characters, sig.txt: 1,023) or their statements (the update
// script) are read, so anything far beyond that is no such file: a peer
// sending more is cut off instead of filling the disk.
constexpr int64_t kUpdScriptMaxBytes = 4 << 20;         // the update script: 4 MiB
constexpr int64_t kUpdDigestFileMaxBytes = 64 << 10;    // md.txt: 64 KiB
constexpr int64_t kUpdSignatureFileMaxBytes = 64 << 10; // sig.txt: 64 KiB

// Fetches `source` (a name at the update source) into the local file
// `destination`, both normalised first, through the transport of
// g_upd_fetch.protocol: HttpGet, HttpsGet, UpdTqfsFetch or the LocalShare
// copy, within MaxDownloadSize (g_upd_fetch.max_download_size). 0 on
// success; -1 on failure, logged by the transport, with no destination
// file left behind. Another protocol is -1 without a message.
int UpdFetchFile(const char* source, const char* destination);

// UpdFetchFile with its own cap on the file's bytes (0: none).
int UpdFetchFileCapped(const char* source, const char* destination, int64_t max_bytes);
