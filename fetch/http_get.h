// The HTTP and HTTPS transports of UpdFetchFile: one HTTP/1.0 GET of a
// target on the configured Server, the response body stored in a local file.
#pragma once

#include <cstdint>

// Fetches target (a path on the server or a whole URL) from the configured
// Server over plain HTTP and writes the response body to local_path.
// Reading ends at Content-Length when the header gives one; `max_bytes`
// (0: none) caps the body. 0 on success; -1 on failure, logged, with no
// local file left behind.
int HttpGet(const char* target, const char* local_path, int64_t max_bytes = 0);

// The same over TLS (port 443 unless Server names one). The server name is
// sent (SNI) when Server is a host name. The server's certificate is checked
// as HttpsVerify and HttpsPin say; by default it is not verified and
// integrity rests on the digest and signature checks.
int HttpsGet(const char* target, const char* local_path, int64_t max_bytes = 0);
