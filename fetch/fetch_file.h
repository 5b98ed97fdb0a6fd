// UpdFetchFile: the one operation through which the update engine gets a
// file from the update source over the configured Protocol, and the name
// normalisation that every fetched and derived file name goes through.
#pragma once

#include <cstddef>

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

// Fetches `source` (a name at the update source) into the local file
// `destination`, both normalised first, through the transport of
// g_upd_config->protocol: HttpGet, HttpsGet, UpdTqfsFetch or the LocalShare
// copy. 0 on success; -1 on failure, logged by the transport, with no
// destination file left behind. Another protocol (or no configuration) is
// -1 without a message.
int UpdFetchFile(const char* source, const char* destination);
