// What the transports of UpdFetchFile need to know: the update source and
// its credentials, how an HTTPS server is verified, how much one fetch may
// bring, and whether the program is stopping. The engine fills the record
// from its configuration; the fetch layer reads nothing else of the engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Transport codes (the configuration's Protocol).
enum : uint16_t { UPD_PROTO_NONE = 0, UPD_PROTO_HTTP = 1, UPD_PROTO_TQFS = 2, UPD_PROTO_LOCALSHARE = 3, UPD_PROTO_HTTPS = 4 };

// How the certificate of an HTTPS server is checked (HttpsVerify).
enum UpdHttpsVerify : int {
  UPD_HTTPS_VERIFY_NONE = 0,   // not at all (encryption only)
  UPD_HTTPS_VERIFY_SYSTEM = 1, // chain to the system's trusted certificates, and the host name
  UPD_HTTPS_VERIFY_FILE = 2,   // chain to the certificates of HttpsCAFile, and the host name
};

// Bytes of the SHA-256 digest of a server key (an HttpsPin).
constexpr int kUpdPinSize = 32;

// Most HttpsPin values kept.
constexpr int kUpdMaxPins = 10;

// Asked between blocks of every transport: true when the program is stopping
// and a fetch must end.
using UpdFetchStopHook = bool (*)();

// The fetch layer's settings, one per program.
struct UpdFetchSettings {
  uint16_t protocol;                                 // UPD_PROTO_*
  std::string server;                                // Server ("host", "host:port", "[v6]:port"), or empty
  std::string user;                                  // User, or empty for none
  std::string password;                              // Password in its stored (scrambled) form
  int has_password;                                  // 1 when a Password is present (an empty one included)
  std::string script;                                // Script, the update script's name (for messages)
  int https_verify;                                  // UPD_HTTPS_VERIFY_*
  std::string https_ca_file;                         // HttpsCAFile: PEM bundle for UPD_HTTPS_VERIFY_FILE
  std::vector<std::array<unsigned char, kUpdPinSize>> https_pins; // HttpsPin digests; empty = no pin
  int64_t max_download_size;                         // MaxDownloadSize in bytes for packages; 0 = no cap
  UpdFetchStopHook stop_requested;                   // null = never stopping
};

// The program's fetch settings (empty until the engine fills them).
extern UpdFetchSettings g_upd_fetch;

// Resets g_upd_fetch to its empty state (keeps the stop hook).
void UpdFetchSettingsClear();

// True when the stop hook says the program is stopping.
bool UpdFetchStopRequested();

// Parses an HttpsPin value "sha256/BASE64" (the prefix in any case; the
// Base64 of exactly 32 bytes, standard alphabet with its "=" padding) into
// `pin`. 0, or -1 when the text is not such a pin.
int UpdParsePin(const char* text, std::array<unsigned char, kUpdPinSize>* pin);

// The "sha256/BASE64" text of a pin.
std::string UpdPinText(const std::array<unsigned char, kUpdPinSize>& pin);
