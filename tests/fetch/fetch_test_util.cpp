// Helpers of the fetch tests.
#include "tests/fetch/fetch_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include "crypto/crypto_runtime.h"
#include "engine/config.h"
#include "engine/work_entry.h"
#include "fetch/signing_key.h"
#include "runtime/alloc.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

FetchSystem::FetchSystem() {
  server_ = sys().path("server");
  work_ = sys().path("work");
  std::filesystem::create_directories(server_);
  std::filesystem::create_directories(work_);
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) old_cwd_ = cwd;
  EXPECT_EQ(::chdir(work_.c_str()), 0);
  EXPECT_EQ(RVCryptoInitLib(), 0);
  UpdFreeConfig();
  g_upd_config = RVAllocRecord<UpdConfig>();
  g_upd_config->protocol = UPD_PROTO_LOCALSHARE;
  g_upd_config->script = RVStrDup("updscript-on-server.txt");
  g_upd_config->server = RVStrDup("update-server");
  UpdConfigToFetch(g_upd_config);
  Texts();
}

FetchSystem::~FetchSystem() {
  if (g_upd_config) {
    UpdFreeWorkList(g_upd_config->work_list);
    g_upd_config->work_list = nullptr;
  }
  if (!old_cwd_.empty()) {
    EXPECT_EQ(::chdir(old_cwd_.c_str()), 0);
  }
}

void FetchSystem::WriteServer(const std::string& name, const std::string& data) const { WriteAll(Server(name), data); }
void FetchSystem::WriteWork(const std::string& name, const std::string& data) const { WriteAll(Work(name), data); }
std::string FetchSystem::ReadWork(const std::string& name) const { return ReadAll(Work(name)); }

bool FetchSystem::InWork(const std::string& name) const {
  std::error_code ec;
  return std::filesystem::exists(Work(name), ec);
}

std::vector<std::string> FetchSystem::WorkNames() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(work_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int RunSplit(const std::string& command, std::string* out, std::string* err) {
  std::string err_file = (std::filesystem::temp_directory_path() / "tqfetch-run-XXXXXX").string();
  int fd = ::mkstemp(err_file.data());
  if (fd >= 0) ::close(fd);
  std::string full = "( " + command + " ) 2>" + Quoted(err_file);
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return -1;
  std::string stdout_text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) stdout_text.append(buf, n);
  int status = ::pclose(p);
  if (out) *out = stdout_text;
  if (err) *err = ReadAll(err_file);
  ::unlink(err_file.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string DevPrivateKey() { return std::string(TQ_SOURCE_DIR) + "/keys/dev-signing-private.pem"; }
std::string DevPublicKey() { return std::string(TQ_SOURCE_DIR) + "/keys/dev-signing-public.pem"; }

bool DevKeyCompiledIn() { return Trimmed(ReadAll(DevPublicKey())) == UpdSigningPublicKey(); }

std::string OpensslSignature(const std::string& file, const std::string& private_key, bool over_file) {
  std::string source = over_file ? "cat " + Quoted(file) : "openssl dgst -sha1 -binary " + Quoted(file);
  std::string out;
  int rc = RunSplit(source + " | openssl dgst -sha1 -sign " + Quoted(private_key) + " | base64 -w0", &out, nullptr);
  EXPECT_EQ(rc, 0);
  return Trimmed(out);
}

std::string OpensslDigest(const std::string& file, const std::string& type) {
  std::string out;
  int rc = RunSplit("openssl dgst -" + type + " -binary " + Quoted(file) + " | base64 -w0", &out, nullptr);
  EXPECT_EQ(rc, 0);
  return Trimmed(out);
}

UpdEntry* NewEntry(const std::string& install_file, const std::string& signature_file) {
  UpdEntry* e = RVAllocRecord<UpdEntry>();
  e->name = RVStrDup("product");
  e->install_file = RVStrDup(install_file.c_str());
  e->signature_file = RVStrDup(signature_file.c_str());
  return e;
}

std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
