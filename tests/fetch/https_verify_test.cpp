// HttpsGet's server checks against openssl s_server -WWW with certificates
// made here by the openssl command: HttpsVerify None, System and File and
// HttpsPin, each against a good certificate, one for another name, an
// expired one and a self-signed one; the server name sent; a substituted
// server on the same port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fetch/fetch_settings.h"
#include "fetch/http_get.h"
#include "tests/fetch/http_test_util.h"
#include "tests/support/child.h"

namespace {

using httpt::HttpSystem;
using httpt::TlsCert;

// The certificates of these tests, made once per program.
struct Certs {
  std::string dir;   // where they are
  std::string ca;    // the test CA's certificate
  TlsCert good;      // localhost, issued by the CA
  TlsCert other;     // another name, issued by the CA
  TlsCert expired;   // localhost, issued by the CA, expired
  TlsCert self;      // localhost, self-signed
  bool made = false; // every openssl command succeeded
};

// Runs a shell command; true on exit 0.
bool Sh(const std::string& command) {
  std::string out;
  int rc = TqRunCommand(command, &out);
  if (rc != 0) std::fprintf(stderr, "%s failed: %s\n", command.c_str(), out.c_str());
  return rc == 0;
}

const Certs& TestCerts() {
  static Certs c = [] {
    Certs k;
    std::string tmpl = (std::filesystem::temp_directory_path() / "tq-verify-XXXXXX").string();
    k.dir = ::mkdtemp(tmpl.data()) ? tmpl : "";
    const std::string d = k.dir + "/";
    k.ca = d + "ca.pem";
    auto leaf = [&](const std::string& name, const std::string& cn, const std::string& days) {
      TlsCert t{d + name + ".pem", d + name + ".key"};
      return Sh("cd '" + k.dir + "' && printf 'subjectAltName=DNS:" + cn + "\\n' > " + name +
                ".ext && openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name +
                ".csr -subj /CN=" + cn + " && openssl x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key" +
                " -CAcreateserial -days " + days + " -extfile " + name + ".ext -out " + name + ".pem")
                 ? t
                 : TlsCert{};
    };
    bool ok = Sh("cd '" + k.dir + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem" +
                 " -days 2 -subj /CN=tq-test-ca");
    k.good = leaf("good", "localhost", "2");
    k.other = leaf("other", "other-name.invalid", "2");
    k.expired = leaf("expired", "localhost", "-1");  // its end lies before its start
    k.self = {d + "self.pem", d + "self.key"};
    ok = ok && !k.good.cert.empty() && !k.other.cert.empty() && !k.expired.cert.empty() &&
         Sh("cd '" + k.dir + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem" +
            " -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost");
    k.made = ok;
    return k;
  }();
  return c;
}

// The HttpsPin text of a certificate's key, by the openssl command.
std::string PinOf(const TlsCert& cert) {
  std::string out;
  TqRunCommand("openssl x509 -in '" + cert.cert +
                   "' -pubkey -noout | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64",
               &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return "sha256/" + out;
}

// Sets the verification of the fetch settings.
void SetVerify(int verify, const std::string& ca_file, const std::vector<std::string>& pins) {
  g_upd_fetch.https_verify = verify;
  g_upd_fetch.https_ca_file = ca_file;
  g_upd_fetch.https_pins.clear();
  for (const std::string& p : pins) {
    std::array<unsigned char, kUpdPinSize> pin;
    ASSERT_EQ(UpdParsePin(p.c_str(), &pin), 0) << p;
    g_upd_fetch.https_pins.push_back(pin);
  }
}

class HttpsVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestCerts().made) GTEST_SKIP() << "the test certificates could not be made";
    www_ = sys_.Path("www");
    std::filesystem::create_directories(www_);
    httpt::WriteAll(www_ + "/file.txt", "the served file\n");
    // System stands for the system's store; the test CA is the one there.
    ::setenv("SSL_CERT_FILE", TestCerts().ca.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SSL_CERT_FILE");
    SetVerify(UPD_HTTPS_VERIFY_NONE, "", {});
  }
  // Fetches file.txt from localhost:port; the result, and in *last the last message.
  int Fetch(int port, std::string* last) {
    sys_.SetServer("localhost:" + std::to_string(port));
    std::string local = sys_.Path("got.txt");
    sys_.Messages();
    int rc = HttpsGet("/file.txt", local.c_str());
    std::vector<std::string> texts = sys_.Messages();
    *last = texts.empty() ? "" : texts.back();
    if (rc == 0) EXPECT_EQ(httpt::ReadAll(local), "the served file\n");
    else EXPECT_FALSE(httpt::Exists(local)) << "a refused fetch left its file";
    return rc;
  }
  HttpSystem sys_;
  std::string www_;
};

TEST_F(HttpsVerify, SettingsAgainstCertificates) {
  const Certs& k = TestCerts();
  const std::string verify_failed = "SSL HttpGet Error - TLS handshake failed: certificate verify failed: ";
  const std::string mismatch = verify_failed + "hostname mismatch";
  const std::string expired = verify_failed + "certificate has expired";
  const std::string self = verify_failed + "self-signed certificate";
  const std::string not_pinned = "SSL HttpGet Error - server key not pinned: ";
  const struct {
    const char* name;
    const TlsCert* cert;
  } certs[] = {{"good", &k.good}, {"other", &k.other}, {"expired", &k.expired}, {"self", &k.self}};
  // Per setting, the outcome for each certificate: "" accepted, else the
  // start of the reason line.
  struct Row {
    const char* setting;
    int verify;
    bool with_ca;
    int pin;  // 0 none, 1 the server's own key, 2 another key
    std::vector<std::string> outcome;
  };
  const Row rows[] = {
      {"None", UPD_HTTPS_VERIFY_NONE, false, 0, {"", "", "", ""}},
      {"System", UPD_HTTPS_VERIFY_SYSTEM, false, 0, {"", mismatch, expired, self}},
      {"File", UPD_HTTPS_VERIFY_FILE, true, 0, {"", mismatch, expired, self}},
      {"None + right pin", UPD_HTTPS_VERIFY_NONE, false, 1, {"", "", "", ""}},
      {"None + wrong pin", UPD_HTTPS_VERIFY_NONE, false, 2, {not_pinned, not_pinned, not_pinned, not_pinned}},
      {"File + right pin", UPD_HTTPS_VERIFY_FILE, true, 1, {"", mismatch, expired, self}},
      {"File + wrong pin", UPD_HTTPS_VERIFY_FILE, true, 2, {not_pinned, mismatch, expired, self}},
  };
  for (size_t i = 0; i < 4; ++i) {
    int port = 0;
    auto peer = httpt::StartTlsWwwWith(www_, *certs[i].cert, {}, 0, &port);
    ASSERT_TRUE(peer) << certs[i].name;
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(r.setting) + " / " + certs[i].name);
      std::vector<std::string> pins;
      if (r.pin == 1) pins = {PinOf(*certs[i].cert)};
      if (r.pin == 2) pins = {PinOf(*certs[(i + 1) % 4].cert)};
      SetVerify(r.verify, r.with_ca ? k.ca : "", pins);
      std::string last;
      int rc = Fetch(port, &last);
      const std::string& want = r.outcome[i];
      if (want.empty()) {
        EXPECT_EQ(rc, 0) << last;
      } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(last.rfind(want, 0), 0u) << last;
      }
    }
  }
}

// The server name goes out when Server is a name, and not for an address:
// the peer answers a request for "localhost" with the certificate of that
// name and everything else with another one.
TEST_F(HttpsVerify, ServerNameSent) {
  const Certs& k = TestCerts();
  int port = 0;
  auto peer = httpt::StartTlsWwwWith(
      www_, k.other, {"-servername", "localhost", "-cert2", k.good.cert, "-key2", k.good.key}, 0, &port);
  ASSERT_TRUE(peer);
  SetVerify(UPD_HTTPS_VERIFY_FILE, k.ca, {});
  std::string last;
  EXPECT_EQ(Fetch(port, &last), 0) << last;
  // By address no name goes out: the other certificate comes, and is refused.
  SetVerify(UPD_HTTPS_VERIFY_NONE, "", {PinOf(k.other)});
  sys_.SetServer("127.0.0.1:" + std::to_string(port));
  std::string local = sys_.Path("by-address.txt");
  EXPECT_EQ(HttpsGet("/file.txt", local.c_str()), 0) << "the certificate without a server name is the other one";
}

// An on-path substitute on the same port, with a certificate of its own,
// is refused under File and under the pin of the real server's key.
TEST_F(HttpsVerify, SubstitutedServerRefused) {
  const Certs& k = TestCerts();
  int port = 0;
  {
    auto real = httpt::StartTlsWwwWith(www_, k.good, {}, 0, &port);
    ASSERT_TRUE(real);
    for (int verify : {UPD_HTTPS_VERIFY_FILE, UPD_HTTPS_VERIFY_NONE}) {
      SetVerify(verify, k.ca, verify == UPD_HTTPS_VERIFY_NONE ? std::vector<std::string>{PinOf(k.good)}
                                                                : std::vector<std::string>{});
      std::string last;
      EXPECT_EQ(Fetch(port, &last), 0) << last;
    }
  }
  int same = 0;
  auto substitute = httpt::StartTlsWwwWith(www_, k.self, {}, port, &same);
  ASSERT_TRUE(substitute);
  SetVerify(UPD_HTTPS_VERIFY_FILE, k.ca, {});
  std::string last;
  EXPECT_EQ(Fetch(port, &last), -1);
  EXPECT_EQ(last.rfind("SSL HttpGet Error - TLS handshake failed: certificate verify failed: self-signed certificate", 0),
            0u)
      << last;
  SetVerify(UPD_HTTPS_VERIFY_NONE, "", {PinOf(k.good)});
  EXPECT_EQ(Fetch(port, &last), -1);
  EXPECT_EQ(last, "SSL HttpGet Error - server key not pinned: " + PinOf(k.self));
}

// A CA file that is not one: the fetch fails before connecting, with the
// reason, and leaves no file.
TEST_F(HttpsVerify, UnusableCAFile) {
  const std::string garbage = sys_.Path("garbage.pem");
  httpt::WriteAll(garbage, "-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n");
  const std::string junk = sys_.Path("junk.pem");
  httpt::WriteAll(junk, httpt::Pattern(3000, 5));
  for (const std::string& file : {garbage, junk, sys_.Path("missing.pem"), std::string()}) {
    SCOPED_TRACE(file);
    SetVerify(UPD_HTTPS_VERIFY_FILE, file, {});
    std::string last;
    EXPECT_EQ(Fetch(1, &last), -1);
    EXPECT_EQ(last.rfind("SSL HttpGet Error - HttpsCAFile Unusable: " + file + ": ", 0), 0u) << last;
  }
}

}  // namespace
