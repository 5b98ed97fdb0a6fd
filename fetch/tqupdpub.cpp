// tqupdpub: the publisher's side of the update checks. Makes the signing key
// pair, the sig.txt line of an install file and the md.txt line of an update
// script, in exactly the forms the update service reads.
//
//   tqupdpub keygen [--bits N] PRIVATE.pem PUBLIC.pem
//   tqupdpub sign --key PRIVATE.pem PACKAGE
//   tqupdpub digest [--type sha1|sha256|sha512|md5|ripemd160] SCRIPT
//   tqupdpub sign-script --key PRIVATE.pem --serial N --expires DATE
//                        [--dir DIR] [--out FILE] [--downgrade PRODUCT]... [--force] SCRIPT
//
// Exit codes: 0 success; 1 failure (a message on standard error); 2 usage.
//
// The command needs nothing but the crypto library: it looks for no
// installation, makes no directory, named object, log or message file, and
// runs as any user.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_runtime.h"
#include "engine/statement_file.h"
#include "fetch/digest_statement.h"
#include "fetch/fetch_file.h"
#include "fetch/key_pair.h"
#include "fetch/script_metadata.h"
#include "fetch/signature_check.h"
#include "fetch/signing_key.h"
#include "platform/file.h"
#include "runtime/report.h"

namespace {

// Longest signature line the service reads, and the signature bytes that fit.
constexpr int kSigLineMax = 1023;
constexpr int kSigBytesMax = kSigLineMax / 4 * 3;

// Room for a signature of any RSA key OpenSSL may hand us.
constexpr int kSigRoom = 8192;

// Default digest of the digest command and key size of keygen.
constexpr const char* kDefaultDigest = "sha256";
constexpr int kDefaultBits = 3072;

const char kUsage[] =
    "Usage: tqupdpub keygen [--bits N] PRIVATE.pem PUBLIC.pem\n"
    "       tqupdpub sign --key PRIVATE.pem PACKAGE\n"
    "       tqupdpub digest [--type sha1|sha256|sha512|md5|ripemd160] SCRIPT\n"
    "       tqupdpub sign-script --key PRIVATE.pem --serial N --expires DATE\n"
    "                [--dir DIR] [--out FILE] [--downgrade PRODUCT]... [--force] SCRIPT\n"
    "       tqupdpub --help\n"
    "\n"
    "keygen  makes an RSA signing key pair (default 3,072 bits, 2,048-4,096):\n"
    "        the private key (PKCS #8 PEM, mode 0600) and the public key\n"
    "        (BEGIN PUBLIC KEY) that a build compiles in. Existing files are\n"
    "        never overwritten.\n"
    "sign    prints the sig.txt line of PACKAGE: the Base64 RSA signature\n"
    "        (PKCS #1 v1.5, SHA-1) of the package's SHA-1 digest; warns when\n"
    "        the key is the development key of the source tree.\n"
    "digest  prints the md.txt line of SCRIPT: the Base64 digest of the file\n"
    "        (default sha256), to publish with \"MessageDigest\n"
    "        Filename=md.txt,Type=sha256\" in the script.\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 usage error.\n";

// Writes the problem (when given) and the usage text to standard error;
// returns the usage exit code 2.
int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "tqupdpub: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

// Writes "tqupdpub: <message>" to standard error; returns the failure exit
// code 1.
int Fail(const std::string& message) {
  std::fprintf(stderr, "tqupdpub: %s\n", message.c_str());
  return 1;
}

// A report of the runtime, on standard error.
void ReportToStderr(const char* text) { std::fprintf(stderr, "tqupdpub: %s\n", text); }

// The crypto library record, bound in-process on first use without the
// runtime settings; null when it cannot be bound.
RVCryptoLib* Lib() {
  if (RVCryptoInitLibBare() != 0) return nullptr;
  return RVCryptoGetLib();
}

// Warns on standard error when the private key in `key_file` is the
// development key, whose private half is public.
void WarnIfDevelopmentKey(const std::string& key_file) {
  std::string public_pem, error;
  if (UpdPublicKeyOfPrivateFile(key_file.c_str(), &public_pem, &error) != 0) return;  // reported when signing
  if (!UpdSamePem(public_pem, UpdDevelopmentPublicKey())) return;
  std::fprintf(stderr,
               "tqupdpub: warning: %s is the development private key of the source tree; it is public, so its "
               "signatures prove nothing and only builds with the development key accept them\n",
               key_file.c_str());
}

// Digest of `file` of digest type `type` into `digest` (*digest_len bytes)
// and its Base64 into *text; 0, or -1.
int DigestText(RVCryptoLib* lib, const char* file, int type, unsigned char* digest, int* digest_len,
               std::string* text) {
  RVCryptoGuard guard;
  *digest_len = lib->digest_file(file, digest, type);
  if (*digest_len <= 0) return -1;
  char out[RV_DIGEST_MAX_LEN * 2];
  if (lib->b64_encode(digest, *digest_len, out) < 0) return -1;
  *text = out;
  return 0;
}

// True when `path` exists (file or directory).
bool Exists(const char* path) {
  PlatFileInfo info;
  return PlatFileStat(path, &info) == 0;
}

// keygen [--bits N] PRIVATE.pem PUBLIC.pem: writes a new key pair, the
// private half with mode 0600; refuses when either file exists.
int KeyGen(const std::vector<std::string>& args) {
  int bits = kDefaultBits;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--bits") {
      if (i + 1 >= args.size()) return Usage("--bits needs a number");
      char* end = nullptr;
      long v = std::strtol(args[++i].c_str(), &end, 10);
      if (!end || *end || args[i].empty() || v < kUpdKeyBitsMin || v > kUpdKeyBitsMax)
        return Usage("--bits must be a number from 2048 to 4096");
      bits = static_cast<int>(v);
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage(("unknown option: " + args[i]).c_str());
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return Usage("keygen needs PRIVATE.pem and PUBLIC.pem");
  if (files[0] == files[1]) return Usage("PRIVATE.pem and PUBLIC.pem must differ");
  // A signing key is never replaced by accident: builds in the field trust
  // only its public half.
  for (const std::string& f : files)
    if (Exists(f.c_str())) return Fail(f + " exists; remove it first to make a new key");

  std::string private_pem, public_pem, error;
  if (UpdGenerateKeyPair(bits, &private_pem, &public_pem, &error) != 0) return Fail(error);
  if (PlatWriteFileAtomic(files[0].c_str(), private_pem, 0600) != 0 || PlatChmod(files[0].c_str(), 0600) != 0)
    return Fail("cannot write " + files[0]);
  if (PlatWriteFileAtomic(files[1].c_str(), public_pem, 0644) != 0) return Fail("cannot write " + files[1]);
  return 0;
}

// sign --key PRIVATE.pem PACKAGE: prints the sig.txt line of the package.
int Sign(const std::vector<std::string>& args) {
  std::string key_file, package;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key") {
      if (i + 1 >= args.size()) return Usage("--key needs a file");
      key_file = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage(("unknown option: " + args[i]).c_str());
    } else if (package.empty()) {
      package = args[i];
    } else {
      return Usage("sign takes one PACKAGE");
    }
  }
  if (key_file.empty() || package.empty()) return Usage("sign needs --key PRIVATE.pem and PACKAGE");

  RVCryptoLib* lib = Lib();
  if (!lib) return Fail("the crypto library cannot be started");
  unsigned char digest[RV_DIGEST_MAX_LEN];
  int digest_len = 0;
  std::string ignored;
  if (DigestText(lib, package.c_str(), RV_DIGEST_SHA1, digest, &digest_len, &ignored) != 0)
    return Fail("cannot read " + package);

  void* key;
  {
    RVCryptoGuard guard;
    key = lib->private_key_read_file(key_file.c_str(), nullptr, RV_CRYPTO_RSA);
  }
  if (!key) return Fail("cannot read an unencrypted RSA private key from " + key_file);
  WarnIfDevelopmentKey(key_file);
  std::vector<unsigned char> sig(kSigRoom);
  int sig_len;
  {
    RVCryptoGuard guard;
    sig_len = lib->sign(key, digest, digest_len, sig.data(), RV_CRYPTO_RSA, nullptr);
    lib->key_free(key, RV_CRYPTO_RSA);
  }
  if (sig_len <= 0) return Fail("signing failed");
  if (sig_len > kSigBytesMax) return Fail("the key is too large: its signature does not fit the signature line");
  std::vector<char> text(static_cast<size_t>(sig_len) / 3 * 4 + 8);
  {
    RVCryptoGuard guard;
    if (lib->b64_encode(sig.data(), sig_len, text.data()) < 0) return Fail("encoding failed");
  }
  std::printf("%s\n", text.data());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the signature");
}

// digest [--type NAME] SCRIPT: prints the md.txt line of the script.
int Digest(const std::vector<std::string>& args) {
  std::string type_name = kDefaultDigest, script;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--type") {
      if (i + 1 >= args.size()) return Usage("--type needs a digest name");
      type_name = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage(("unknown option: " + args[i]).c_str());
    } else if (script.empty()) {
      script = args[i];
    } else {
      return Usage("digest takes one SCRIPT");
    }
  }
  if (script.empty()) return Usage("digest needs SCRIPT");
  int type = UpdDigestTypeByName(type_name.c_str());
  if (type == 0) return Usage(("unknown digest type: " + type_name).c_str());

  RVCryptoLib* lib = Lib();
  if (!lib) return Fail("the crypto library cannot be started");
  unsigned char digest[RV_DIGEST_MAX_LEN];
  int digest_len = 0;
  std::string text;
  if (DigestText(lib, script.c_str(), type, digest, &digest_len, &text) != 0) return Fail("cannot read " + script);
  std::printf("%s\n", text.c_str());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the digest");
}


// Reads the packages SCRIPT names into `meta`: for every entry its product
// (Name) and the file of its InstallFile's last part in `dir`, with that
// file's SHA-256 and length. 0, or -1 after a message.
int ScriptPackages(const std::string& script, const std::string& dir, const std::vector<std::string>& downgrades,
                   UpdScriptMetadata* meta) {
  UpdStmtReader reader;
  if (UpdStmtOpen(&reader, script.c_str(), 2) != 0) return Fail("cannot read " + script);
  struct Named {
    std::string name, install_file;
    int line;
  };
  std::vector<Named> entries;
  UpdStmt stmt;
  while (UpdStmtNext(&reader, &stmt)) {
    if (UpdStmtKeyIs(stmt.tokens[0], "Update")) {
      entries.push_back({"", "", stmt.line});
    } else if (!entries.empty() && stmt.count == 2 && UpdStmtKeyIs(stmt.tokens[0], "Name")) {
      entries.back().name = stmt.tokens[1];
    } else if (!entries.empty() && stmt.count == 2 && UpdStmtKeyIs(stmt.tokens[0], "InstallFile")) {
      entries.back().install_file = stmt.tokens[1];
    }
  }
  int read_error = reader.read_error;
  UpdStmtClose(&reader);
  if (read_error) return Fail("cannot read " + script);
  std::vector<bool> used(downgrades.size(), false);
  for (const Named& e : entries) {
    std::string where = script + ":" + std::to_string(e.line);
    if (e.name.empty() || e.install_file.empty()) return Fail(where + ": the entry has no Name or no InstallFile");
    char local[kUpdNameSize];
    if (UpdLocalFileName(e.install_file.c_str(), local) != 0)
      return Fail(where + ": InstallFile has no file name: " + e.install_file);
    UpdMetaPackage p{};
    p.file = local;
    p.product = e.name;
    for (size_t i = 0; i < downgrades.size(); ++i)
      if (downgrades[i] == e.name) p.downgrade = used[i] = true;
    std::string path = dir + "/" + p.file;
    if (UpdFileSha256(path.c_str(), &p.sha256, &p.length) != 0) return Fail("cannot read the package " + path);
    if (p.length <= 0) return Fail("the package is empty: " + path);
    if (const UpdMetaPackage* known = UpdMetadataPackage(*meta, p.file)) {
      if (known->product != p.product)
        return Fail(where + ": " + p.file + " is named for two products: " + known->product + " and " + p.product);
      continue;
    }
    meta->packages.push_back(p);
  }
  for (size_t i = 0; i < downgrades.size(); ++i)
    if (!used[i]) return Fail("--downgrade " + downgrades[i] + ": no entry of the script has this Name");
  if (static_cast<int>(meta->packages.size()) > kUpdMetadataMaxPackages)
    return Fail("the script names more than " + std::to_string(kUpdMetadataMaxPackages) + " packages");
  return 0;
}

// sign-script: writes the signed metadata of a script.
int SignScript(const std::vector<std::string>& args) {
  std::string key_file, serial_text, expires_text, dir, out, script;
  std::vector<std::string> downgrades;
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* slot = a == "--key" ? &key_file : a == "--serial" ? &serial_text : a == "--expires" ? &expires_text
                        : a == "--dir" ? &dir : a == "--out" ? &out : nullptr;
    if (slot || a == "--downgrade") {
      if (i + 1 >= args.size()) return Usage((a + " needs a value").c_str());
      if (slot) *slot = args[++i];
      else downgrades.push_back(args[++i]);
    } else if (a == "--force") {
      force = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option: " + a).c_str());
    } else if (script.empty()) {
      script = a;
    } else {
      return Usage("sign-script takes one SCRIPT");
    }
  }
  if (key_file.empty() || serial_text.empty() || expires_text.empty() || script.empty())
    return Usage("sign-script needs --key PRIVATE.pem, --serial N, --expires DATE and SCRIPT");
  UpdScriptMetadata meta{};
  if (UpdParseSerial(serial_text, &meta.serial) != 0)
    return Usage("--serial must be a number from 1 to 18446744073709551615");
  std::string expires = expires_text.size() == 10 ? expires_text + "T00:00:00Z" : expires_text;
  if (UpdParseUtcTime(expires, &meta.expires) != 0)
    return Usage("--expires must be YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ (UTC)");
  if (dir.empty()) {
    size_t slash = script.find_last_of('/');
    dir = slash == std::string::npos ? "." : script.substr(0, slash == 0 ? 1 : slash);
  }
  if (out.empty()) out = UpdScriptMetadataName(script);

  // A serial never goes down by accident: mirrors and clients refuse it.
  if (Exists(out.c_str()) && !force) {
    std::string old;
    UpdScriptMetadata previous;
    std::string error;
    if (PlatReadFile(out.c_str(), &old) != 0 || UpdParseScriptMetadata(old, &previous, &error) != 0)
      return Fail(out + " exists and its serial cannot be read (" + error + "); --force replaces it");
    if (meta.serial <= previous.serial)
      return Fail("serial " + std::to_string(meta.serial) + " is not higher than " + std::to_string(previous.serial) +
                  " in " + out + "; --force replaces it");
  }

  if (UpdFileSha256(script.c_str(), &meta.script_sha256, &meta.script_length) != 0) return Fail("cannot read " + script);
  if (ScriptPackages(script, dir, downgrades, &meta) != 0) return 1;
  WarnIfDevelopmentKey(key_file);
  std::string body = UpdScriptMetadataBody(meta);
  std::vector<unsigned char> sig;
  std::string error;
  if (UpdMetadataSign(key_file.c_str(), body, &sig, &error) != 0) return Fail(error);
  std::string text = UpdScriptMetadataText(body, sig);
  // What is written is what clients read back.
  UpdScriptMetadata check;
  if (UpdParseScriptMetadata(text, &check, &error) != 0) return Fail("the metadata would not read back: " + error);
  if (PlatWriteFileAtomic(out.c_str(), text, 0644) != 0) return Fail("cannot write " + out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever the runtime reports goes to standard error, never to a log.
  const RVReportHooks hooks = {ReportToStderr, ReportToStderr, ReportToStderr};
  RVSetReportHooks(&hooks);
  if (argc < 2) return Usage("no command");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (command == "keygen") return KeyGen(args);
  if (command == "sign") return Sign(args);
  if (command == "digest") return Digest(args);
  if (command == "sign-script") return SignScript(args);
  return Usage(("unknown command: " + command).c_str());
}
