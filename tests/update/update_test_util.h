// Helpers of the end-to-end update tests: a relocated system that runs the
// programs of the build tree, a signed update repository (packages built
// with wixl, signatures and the script digest made by tqupdpub with the
// development key) served over HTTP by python3 -m http.server or read as a
// LocalShare directory, and readers of what a run of the service left: its
// log, the registry, the installed files, the work directory and work file.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/fetch/http_test_util.h"
#include "tests/support/child.h"
#include "tests/support/msi_fixture.h"
#include "tests/support/temp_system.h"

namespace updt {

// The programs of the build tree.
extern const std::string kTqupdd;
extern const std::string kTqupdreq;
extern const std::string kTqupdpub;
extern const std::string kTqmsi;
extern const std::string kTqreg;
extern const std::string kTqsc;

// How the service reaches the repository.
enum class Transport { kHttp, kLocalShare };

// The transport's name for test messages.
const char* TransportName(Transport t);

// A test product: name (ending in "-win64") and version given, the
// product code derived from both and the upgrade code from the name (so
// two versions of one product share it), and `extra` as the name of the
// one file of tests/data/msi/app.wxs that tells products apart.
MsiTestProduct Product(const std::string& name, const std::string& version, const std::string& extra = "");

// One relocated system with its update repository. Construct one per
// scenario; the HTTP server and the temporary directory go with it.
class UpdateSystem {
 public:
  UpdateSystem();
  ~UpdateSystem();
  UpdateSystem(const UpdateSystem&) = delete;
  UpdateSystem& operator=(const UpdateSystem&) = delete;

  TempSystem& sys() { return sys_; }
  // Absolute paths: in the repository, in the work directory, below HOME_TQ.
  std::string Repo(const std::string& relative) const { return sys_.path("repo/" + relative); }
  std::string Work(const std::string& name) const { return sys_.path("home-tq/TQUpdate/Work/" + name); }
  std::string Home(const std::string& relative) const { return sys_.home() + "/" + relative; }
  // The work file's path ("<RV_COMMONAPPDATA>/tqupd-work.txt").
  std::string WorkFilePath() const { return sys_.path("common/TQ/tqupd-work.txt"); }

  // Builds `p` from tests/data/msi/<wxs>.wxs outside the repository and
  // returns the package's path ("" after a test failure).
  std::string Build(const MsiTestProduct& p, const std::string& wxs = "app",
                    const std::map<std::string, std::string>& vars = {});
  // Builds `p` into the repository at `file` (a path ending in ".msi") and
  // its signature line beside it (the same path ending in ".sig"). False
  // after a test failure.
  bool Publish(const MsiTestProduct& p, const std::string& file, const std::string& wxs = "app",
               const std::map<std::string, std::string>& vars = {});
  // The sig.txt line of a file, made by tqupdpub sign with the development
  // private key.
  std::string Sign(const std::string& path);

  // Selects the transport: for HTTP starts python3 -m http.server on the
  // repository at a free loopback port. Call before Where and Configure.
  bool Serve(Transport t);
  // Where the service finds a repository file: "/<relative>" over HTTP, the
  // absolute path over LocalShare.
  std::string Where(const std::string& relative) const;
  // Writes the repository's updscript.txt: `text` with every "{src}"
  // replaced by Where(""). With `digest`, a MessageDigest statement (sha256,
  // "md.txt" over HTTP, its absolute path over LocalShare) comes first and
  // md.txt is made with tqupdpub digest.
  void WriteScript(const std::string& text, bool digest = true);
  // Writes tqupd-cnf.txt for the transport: install type, LogLevel 9, a
  // start-up check, no schedule that is ever due, MaxLoopCount 1, then
  // `extra` (later lines override earlier ones).
  void Configure(const std::string& install_type, const std::string& extra = "");

  // Runs tqupdd with `args` (standard input closed); its exit code, and
  // its output in *out when not null.
  int Run(const std::string& args, std::string* out = nullptr);
  // Starts "tqupdd --fg" in the background; Stop kills and reaps it.
  void StartForeground();
  void StopForeground();
  // Waits (bounded, about 30 s) until the log holds `what` `count` times.
  bool WaitForLog(const std::string& what, int count = 1);

  // The whole log file, and its message texts (lines joined).
  std::string Log() const;
  std::vector<std::string> Texts() const;
  // How many messages equal `text` / begin with `prefix` / contain `part`.
  int CountText(const std::string& text) const;
  int CountPrefix(const std::string& prefix) const;
  int CountPart(const std::string& part) const;
  // The messages that begin with `prefix`, in log order.
  std::vector<std::string> WithPrefix(const std::string& prefix) const;
  // The work file's text as a requester sees it: read while holding the
  // work mutex, as the worker's other readers do. False when it does not
  // exist (or the mutex was not obtained within 30 s).
  bool ReadWorkFile(std::string* text);
  // Starts a new log (removes the file).
  void ClearLog();

  // A value of HKLM\SOFTWARE\TQ Software\<product> as tqreg shows it; ""
  // when the key or value is missing.
  std::string RegValue(const std::string& product, const std::string& value);
  // The product codes the installer database lists (tqmsi list), sorted.
  std::vector<std::string> InstalledCodes();
  // Names in the work directory (sorted), without the ".keep" marker.
  std::vector<std::string> WorkNames() const;
  // Paths relative to the system's root of every file whose name ends in
  // `suffix`, sorted.
  std::vector<std::string> FilesEndingIn(const std::string& suffix) const;
  // 1 when a path exists.
  static bool Exists(const std::string& path);

 private:
  TempSystem sys_;
  Transport transport_ = Transport::kLocalShare;
  int port_ = 0;
  std::unique_ptr<httpt::Peer> server_;
  pid_t foreground_ = -1;
};

// Skips the calling test when the package tools or the development key are
// missing; use as `if (!updt::CanRun()) GTEST_SKIP() << ...`.
bool CanRun();

}  // namespace updt
