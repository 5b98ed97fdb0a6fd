// Helpers of the end-to-end update tests.
#include "tests/update/update_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/work_file.h"
#include "platform/error.h"
#include "platform/named_mutex.h"
#include "runtime/env.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/support/child.h"
#include "tests/support/log_texts.h"

namespace updt {

const std::string kTqupdd = TQ_BINARY_DIR "/service/tqupdd";
const std::string kTqupdreq = TQ_BINARY_DIR "/service/tqupdreq";
const std::string kTqupdpub = TQ_BINARY_DIR "/fetch/tqupdpub";
const std::string kTqmsi = TQ_BINARY_DIR "/platform/tqmsi";
const std::string kTqreg = TQ_BINARY_DIR "/platform/tqreg";
const std::string kTqsc = TQ_BINARY_DIR "/platform/tqsc";

namespace {

// FNV-1a of a text: a stable source of GUID digits.
uint64_t Fnv(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

// A GUID in braces whose digits come from `seed`.
std::string Guid(const std::string& seed) {
  uint64_t a = Fnv(seed);
  uint64_t b = Fnv(seed + "#");
  char buf[64];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-4%03X-8%03X-%012llX}", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                static_cast<unsigned>((b >> 48) & 0xFFF), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
  return buf;
}

// Replaces every `from` in `text` by `to`.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Standard output of a command with its standard error dropped; "" and a
// test failure when it does not succeed.
std::string Output(const std::string& command) {
  std::string out;
  std::string err;
  int rc = RunSplit(command, &out, &err);
  EXPECT_EQ(rc, 0) << command << "\n" << err;
  return rc == 0 ? out : std::string();
}

// The text without trailing line breaks and blanks.
std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

const char* TransportName(Transport t) { return t == Transport::kHttp ? "http" : "LocalShare"; }

MsiTestProduct Product(const std::string& name, const std::string& version, const std::string& extra) {
  MsiTestProduct p;
  p.name = name;
  p.version = version;
  p.product_code = Guid("product " + name + " " + version);
  p.upgrade_code = Guid("upgrade " + name);
  p.extra = extra;
  return p;
}

bool CanRun() { return MsiFixtureToolsPresent() && DevKeyCompiledIn(); }

UpdateSystem::UpdateSystem() {
  // The worker's waits run at one millisecond per second.
  sys_.SetEnv("TQ_TEST_SECOND_MS", "1");
  for (const char* dir : {"home-tq/TQUpdate/Work", "home-tq/TQUpdate/Config", "home-tq/TQUpdate/Log",
                          "home-tq/TQUpdate/bin", "repo", "build"})
    std::filesystem::create_directories(sys_.path(dir));
}

UpdateSystem::~UpdateSystem() {
  StopForeground();
  server_.reset();
}

std::string UpdateSystem::Build(const MsiTestProduct& p, const std::string& wxs,
                                const std::map<std::string, std::string>& vars) {
  static int serial = 0;
  std::string log;
  std::string out = "p" + std::to_string(++serial);
  std::string path = MsiFixtureBuild(sys_.path("build"), MSI_FIXTURE_SOURCE(wxs), p, out, vars, &log);
  EXPECT_FALSE(path.empty()) << "wixl failed for " << p.name << ":\n" << log;
  return path;
}

bool UpdateSystem::Publish(const MsiTestProduct& p, const std::string& file, const std::string& wxs,
                           const std::map<std::string, std::string>& vars) {
  std::string built = Build(p, wxs, vars);
  if (built.empty()) return false;
  std::filesystem::path to = Repo(file);
  std::filesystem::create_directories(to.parent_path());
  std::filesystem::copy_file(built, to, std::filesystem::copy_options::overwrite_existing);
  std::string sig = Sign(to.string());
  if (sig.empty()) return false;
  std::string sig_file = to.string();
  sig_file.replace(sig_file.size() - 4, 4, ".sig");
  httpt::WriteAll(sig_file, sig + "\n");
  return true;
}

std::string UpdateSystem::Sign(const std::string& path) {
  return Trim(Output(kTqupdpub + " sign --key " + Quoted(DevPrivateKey()) + " " + Quoted(path)));
}

bool UpdateSystem::Serve(Transport t) {
  transport_ = t;
  if (t == Transport::kHttp) {
    server_ = httpt::StartPythonHttp(Repo(""), &port_);
    EXPECT_TRUE(server_ && port_ > 0) << "python3 -m http.server did not start";
    return server_ && port_ > 0;
  }
  return true;
}

std::string UpdateSystem::Where(const std::string& relative) const {
  return transport_ == Transport::kHttp ? "/" + relative : Repo(relative);
}

void UpdateSystem::WriteScript(const std::string& text, bool digest) {
  std::string script = ReplaceAll(text, "{src}", Where(""));
  // Over HTTP the digest file is named as publishers write it, relative to
  // the server's root; a LocalShare copy needs the share's path.
  std::string md_name = transport_ == Transport::kHttp ? "md.txt" : Where("md.txt");
  if (digest) script = "MessageDigest Filename=" + md_name + ",Type=sha256\n" + script;
  httpt::WriteAll(Repo("updscript.txt"), script);
  if (digest) {
    std::string md = Output(kTqupdpub + " digest --type sha256 " + Quoted(Repo("updscript.txt")));
    httpt::WriteAll(Repo("md.txt"), md);
  }
}

void UpdateSystem::Configure(const std::string& install_type, const std::string& extra) {
  std::string text;
  if (transport_ == Transport::kHttp) {
    text = "Protocol http\nServer 127.0.0.1:" + std::to_string(port_) + "\nScript /updscript.txt\n";
  } else {
    text = "Protocol LocalShare\nScript \"" + Repo("updscript.txt") + "\"\n";
  }
  // DayOfMonth 32 never matches: the start-up check is the only check.
  text += "InstallType " + install_type +
          "\nLogLevel 9\nStartUpWait 0\nOnStartCheck True\nSchedule DayOfMonth=32,Interval=10M\nMaxLoopCount 1\n" + extra;
  sys_.WriteFile("home-tq/TQUpdate/Config/tqupd-cnf.txt", text);
}

int UpdateSystem::Run(const std::string& args, std::string* out) {
  return TqRunCommand(kTqupdd + " " + args + " </dev/null", out);
}

void UpdateSystem::StartForeground() {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::execl(kTqupdd.c_str(), kTqupdd.c_str(), "--fg", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  foreground_ = pid;
}

void UpdateSystem::StopForeground() {
  if (foreground_ <= 0) return;
  ::kill(foreground_, SIGKILL);
  ::waitpid(foreground_, nullptr, 0);
  foreground_ = -1;
}

bool UpdateSystem::WaitForLog(const std::string& what, int count) {
  for (int i = 0; i < 1200; ++i) {
    if (CountPart(what) >= count) return true;
    ::usleep(25 * 1000);
  }
  return false;
}

std::string UpdateSystem::Log() const { return sys_.ReadFile("home-tq/TQUpdate/Log/tqupd-log.txt"); }

std::vector<std::string> UpdateSystem::Texts() const {
  size_t consumed = 0;
  return TqLogTexts(Log(), &consumed, true);
}

int UpdateSystem::CountText(const std::string& text) const {
  std::vector<std::string> texts = Texts();
  return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

int UpdateSystem::CountPrefix(const std::string& prefix) const { return static_cast<int>(WithPrefix(prefix).size()); }

int UpdateSystem::CountPart(const std::string& part) const {
  int n = 0;
  for (const std::string& t : Texts()) n += t.find(part) != std::string::npos;
  return n;
}

std::vector<std::string> UpdateSystem::WithPrefix(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& t : Texts())
    if (t.compare(0, prefix.size(), prefix) == 0) found.push_back(t);
  return found;
}

bool UpdateSystem::ReadWorkFile(std::string* text) {
  RVInit(nullptr);
  PlatMutex* m = PlatMutexCreate(UpdWorkMutexName().c_str(), nullptr);
  if (!m) return false;
  uint32_t r = PlatMutexWait(m, 30000);
  bool held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  bool exists = held && Exists(WorkFilePath());
  if (exists) *text = httpt::ReadAll(WorkFilePath());
  if (held) PlatMutexRelease(m);
  PlatMutexClose(m);
  return exists;
}

void UpdateSystem::ClearLog() { std::remove(sys_.path("home-tq/TQUpdate/Log/tqupd-log.txt").c_str()); }

std::string UpdateSystem::RegValue(const std::string& product, const std::string& value) {
  std::string out;
  std::string key = "HKLM\\SOFTWARE\\TQ Software\\" + product;
  if (RunSplit(kTqreg + " query " + Quoted(key) + " /v " + Quoted(value), &out, nullptr) != 0) return "";
  std::istringstream lines(out);
  std::string line;
  std::string head = "    " + value + "    ";
  while (std::getline(lines, line)) {
    if (line.compare(0, head.size(), head) != 0) continue;
    size_t data = line.find("    ", head.size());
    return data == std::string::npos ? "" : line.substr(data + 4);
  }
  return "";
}

std::vector<std::string> UpdateSystem::InstalledCodes() {
  std::istringstream lines(Output(kTqmsi + " list"));
  std::vector<std::string> codes;
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line[0] == '{') codes.push_back(line.substr(0, line.find(' ')));
  std::sort(codes.begin(), codes.end());
  return codes;
}

std::vector<std::string> UpdateSystem::WorkNames() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Work("")))
    if (e.path().filename() != ".keep") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> UpdateSystem::FilesEndingIn(const std::string& suffix) const {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(sys_.root(), ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      found.push_back(std::filesystem::relative(it->path(), sys_.root()).string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool UpdateSystem::Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace updt
