// The GET request of the HTTP and HTTPS clients.
#include "fetch/http_request.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/crypto_runtime.h"
#include "crypto/scramble.h"
#include "crypto/wipe.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

namespace {

// Characters of the Base64 encoding of `len` bytes.
size_t EncodedLength(size_t len) { return (len + 2) / 3 * 4; }

// Writes the Base64 encoding of "user:password" into `encoded`
// (limits->encoded_size bytes). 0, or -1 with a message.
int EncodeCredentials(const char* user, const char* stored_password, const UpdHttpLimits* limits, char* encoded) {
  // The stored form is two key letters and two hexadecimal digits per
  // character; an empty stored value stands for an empty password.
  size_t stored_len = std::strlen(stored_password);
  size_t plain_max = stored_len > 2 ? (stored_len - 2) / 2 : 0;
  if (plain_max > static_cast<size_t>(kUpdHttpPasswordMax)) {
    UpdMessage(9, "%s Error - Password Too Long: %d characters, at most %d", limits->who, static_cast<int>(plain_max),
               kUpdHttpPasswordMax);
    return -1;
  }
  char plain[kUpdHttpPasswordMax + 1] = {0};
  if (stored_len > 0 && RVUnscrambleCurrent(stored_password, plain) != 0) {
    UpdMessage(9, "%s Error - Invalid Password", limits->who);
    return -1;
  }
  std::string credentials = std::string(user) + ":" + plain;
  RVCryptoWipe(plain, sizeof plain);
  size_t need = EncodedLength(credentials.size());
  int result = -1;
  if (need + 1 > limits->encoded_size) {
    UpdMessage(9, "%s Error - Credentials Too Long: %d characters, at most %d", limits->who, static_cast<int>(need),
               static_cast<int>(limits->encoded_size - 1));
  } else {
    // The encoding runs under the crypto library mutex, taken for this one call.
    int n = -2;
    if (RVCryptoLock() == 0) {
      RVCryptoLib* lib = RVCryptoGetLib();
      if (lib && lib->b64_encode)
        n = lib->b64_encode(reinterpret_cast<const unsigned char*>(credentials.data()),
                            static_cast<int>(credentials.size()), encoded);
      RVCryptoUnlock();
    }
    if (n == -2) {
      UpdMessage(9, "%s Error - Crypto Library Not Available", limits->who);
      encoded[0] = '\0';
    } else if (n < 0 || static_cast<size_t>(n) != need) {
      UpdMessage(9, "%s Error - Encoding Credentials Failed", limits->who);
      encoded[0] = '\0';
    } else {
      result = 0;
    }
  }
  RVCryptoWipe(credentials.data(), credentials.size());
  return result;
}

// The request target as it goes out: a blank as "%20". -1 with a message
// when it holds a control character, which would end the request line.
int RequestTarget(const char* target, const UpdHttpLimits* limits, std::string* out) {
  for (const char* p = target; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f) {
      RVShown shown;
      UpdMessage(9, "%s Error - Control Character in Request Target: %s", limits->who, RVShowText(&shown, target));
      return -1;
    }
    if (c == ' ') *out += "%20";
    else *out += static_cast<char>(c);
  }
  return 0;
}

}  // namespace

int UpdHttpComposeRequest(const char* target, const char* server, const char* user, const char* stored_password,
                          const UpdHttpLimits* limits, char* out, char* shown) {
  out[0] = '\0';
  shown[0] = '\0';
  std::string path;
  if (RequestTarget(target, limits, &path) != 0) return -1;
  std::string head = "GET " + path + " HTTP/1.0\r\nHost: " + server + "\r\n";
  const std::string tail = "User-Agent: TQUpdate - " UPD_HTTP_AGENT_VERSION "\r\n\r\n";
  std::string request = head;
  std::string masked = head;
  if (user && *user && stored_password) {
    std::string encoded(limits->encoded_size, '\0');
    if (EncodeCredentials(user, stored_password, limits, encoded.data()) != 0) return -1;
    request += "Authorization: Basic ";
    request += encoded.c_str();
    request += "\r\n";
    masked += "Authorization: Basic " UPD_HTTP_MASK "\r\n";
    RVCryptoWipe(encoded.data(), encoded.size());
  }
  request += tail;
  masked += tail;
  if (request.size() + 1 > limits->request_size) {
    UpdMessage(9, "%s Error - Request Too Long: %d characters, at most %d", limits->who, static_cast<int>(request.size()),
               static_cast<int>(limits->request_size - 1));
    RVCryptoWipe(request.data(), request.size());
    return -1;
  }
  std::memcpy(out, request.data(), request.size() + 1);
  RVCryptoWipe(request.data(), request.size());
  // The masked text is never longer than the request.
  std::snprintf(shown, limits->request_size, "%s", masked.c_str());
  return 0;
}
