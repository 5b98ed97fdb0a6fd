// The GET request of the HTTP and HTTPS clients.
#pragma once

#include <cstddef>

// The product version the User-Agent header carries.
#define UPD_HTTP_AGENT_VERSION "6.7.5-01"

// What messages show in place of the credentials.
#define UPD_HTTP_MASK "********"

// Longest plain password after unscrambling, in characters.
constexpr int kUpdHttpPasswordMax = 111;

// Working limits of one client.
struct UpdHttpLimits {
  const char* who;      // name in the messages: "HttpGet" or "SSL HttpGet"
  size_t request_size;  // bytes of the request text buffer (the request is at most one less)
  size_t encoded_size;  // bytes of the encoded credentials buffer (at most one less)
};

// Composes the HTTP/1.0 GET request for `target` on `server` into `out`
// (limits->request_size bytes): request line (a blank of the target sent as
// "%20"), Host, an Authorization header with Basic credentials when `user`
// is set and a stored password is present (an empty stored value, or just
// the two key letters, is an empty password), User-Agent, and the empty
// line. `shown` (limits->request_size bytes) receives the same text with
// the credentials as UPD_HTTP_MASK, the only form that may reach a message.
// 0, or -1 with a level-9 message when the target holds a control
// character, the password cannot be unscrambled or is over 111 characters,
// the encoded credentials or the request exceed their buffers, or the
// crypto library is not available.
int UpdHttpComposeRequest(const char* target, const char* server, const char* user, const char* stored_password,
                          const UpdHttpLimits* limits, char* out, char* shown);
