// Helpers of the HTTP and HTTPS client tests: a relocated system with a
// configuration record and captured messages, and the peers the clients
// talk to (python3 -m http.server, openssl s_server -WWW, and the scripted
// peer, a child role of the test program that misbehaves on purpose).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/engine/engine_test_util.h"

namespace httpt {

// A relocated system (EngineSystem) with an HTTP configuration record, the
// crypto library bound in-process, and a short stall limit for the clients.
class HttpSystem {
 public:
  HttpSystem();
  ~HttpSystem();
  HttpSystem(const HttpSystem&) = delete;
  HttpSystem& operator=(const HttpSystem&) = delete;

  TempSystem& sys() const { return engine_.sys(); }
  // A path under the system's root.
  std::string Path(const std::string& relative) const { return sys().path(relative); }
  // Sets Server, User and the stored Password of the record (null: none;
  // an empty text is kept as an empty stored value).
  void SetServer(const std::string& server);
  void SetUser(const char* user);
  void SetPassword(const char* stored);
  // Whole messages logged since the last call (a message may span lines).
  std::vector<std::string> Messages();
  // Runs `action` at LogLevel 0, 8 and 9 and returns the messages of the
  // last run, each with its level: 9, 0, or -1 for a level in between.
  std::vector<CapturedMessage> Levels(const std::function<void()>& action);

 private:
  mutable EngineSystem engine_;
  size_t consumed_ = 0;
};

// A process the test started; stopped and reaped when the object goes.
class Peer {
 public:
  explicit Peer(pid_t pid) : pid_(pid) {}
  ~Peer() { Stop(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  pid_t pid() const { return pid_; }
  // Ends the process (TERM, then KILL) and reaps it.
  void Stop();

 private:
  pid_t pid_;
};

// Starts `argv` (found on PATH) in `dir` (when not empty), its output thrown away.
std::unique_ptr<Peer> StartCommand(const std::vector<std::string>& argv, const std::string& dir);

// A TCP port of 127.0.0.1 that was free a moment ago.
int FreePort();

// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, int timeout_ms);

// Starts `python3 -m http.server` for `dir` on a free loopback port.
std::unique_ptr<Peer> StartPythonHttp(const std::string& dir, int* port);

// A self-signed certificate for another name, made once per test program
// with the openssl command.
struct TlsCert {
  std::string cert; // PEM certificate file
  std::string key;  // PEM private key file
};
const TlsCert& TestCert();

// Starts `openssl s_server -WWW` in `dir` on a free loopback port.
std::unique_ptr<Peer> StartTlsWww(const std::string& dir, int* port);

// Starts `openssl s_server -WWW` in `dir` with `cert` and `key` and the
// further arguments `extra`, listening on 127.0.0.1:`fixed_port` (when not
// 0) or a free port; the port in *port.
std::unique_ptr<Peer> StartTlsWwwWith(const std::string& dir, const TlsCert& cert,
                                      const std::vector<std::string>& extra, int fixed_port, int* port);

// Starts the scripted peer in `mode` (plain or over TLS) writing its port,
// the requests it receives ("request", the latest) and the number of
// connections it accepted ("accepted") into `dir`.
std::unique_ptr<Peer> StartScripted(const std::string& dir, const std::string& mode, bool tls, int* port);

// The whole response the scripted peer sends in `mode` before it closes,
// stalls or keeps going (the first 64 KiB of an endless one).
std::string ScriptedResponse(const std::string& mode);

// `n` bytes of a fixed pattern that differs with `seed`.
std::string Pattern(size_t n, unsigned seed = 1);

// Reads / writes a whole file; Exists tells whether a path exists.
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& data);
bool Exists(const std::string& path);

}  // namespace httpt
