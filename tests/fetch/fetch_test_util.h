// Helpers of the fetch tests: a relocated system whose update source is a
// LocalShare "server" directory, with the work directory as the current
// directory, and a way to publish signed files on that server.
#pragma once

#include <string>
#include <vector>

#include "tests/engine/engine_test_util.h"

struct UpdEntry;

// A relocated system (EngineSystem: messages captured) with a configuration
// record of protocol LocalShare, the directories "server" and "work" under
// its root, and "work" as the current directory for the object's life. The
// crypto library is bound in-process.
class FetchSystem {
 public:
  FetchSystem();
  ~FetchSystem();
  FetchSystem(const FetchSystem&) = delete;
  FetchSystem& operator=(const FetchSystem&) = delete;

  EngineSystem& engine() { return engine_; }
  TempSystem& sys() const { return engine_.sys(); }
  // Absolute path of a file on the server / in the work directory.
  std::string Server(const std::string& name) const { return server_ + "/" + name; }
  std::string Work(const std::string& name) const { return work_ + "/" + name; }
  // Writes / reads a file on the server or in the work directory.
  void WriteServer(const std::string& name, const std::string& data) const;
  void WriteWork(const std::string& name, const std::string& data) const;
  std::string ReadWork(const std::string& name) const;
  // 1 when the file (or directory) exists in the work directory.
  bool InWork(const std::string& name) const;
  // Names in the work directory, sorted.
  std::vector<std::string> WorkNames() const;
  // Message texts logged since the last call.
  std::vector<std::string> Texts() { return engine_.Texts(); }

 private:
  EngineSystem engine_;
  std::string server_;
  std::string work_;
  std::string old_cwd_;
};

// Runs a command through /bin/sh; standard output into *out, standard error
// into *err (each when not null). Returns the exit code.
int RunSplit(const std::string& command, std::string* out, std::string* err);

// The file names of the source tree's development key pair.
std::string DevPrivateKey();
std::string DevPublicKey();

// True when the compiled-in key is the development key (tests that sign with
// its private half skip otherwise).
bool DevKeyCompiledIn();

// The sig.txt line (no line break) of `file` signed with `private_key` by
// the openssl command: RSA PKCS #1 v1.5, SHA-1, over the file's raw SHA-1
// digest. With `over_file` the signature is made over the file itself.
std::string OpensslSignature(const std::string& file, const std::string& private_key, bool over_file = false);

// The Base64 digest of `file` by the openssl command ("sha1", "sha256",
// "sha512", "md5", "ripemd160").
std::string OpensslDigest(const std::string& file, const std::string& type);

// A new work-list entry (texts copied); append with `next`.
UpdEntry* NewEntry(const std::string& install_file, const std::string& signature_file);

// Single-quotes a text for /bin/sh.
std::string Quoted(const std::string& text);
