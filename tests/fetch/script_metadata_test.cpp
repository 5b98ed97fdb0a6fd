// Script metadata: the reader against damaged and hostile text, the writer
// read back, the times and names it uses, and the signature as known
// answers of the openssl command over a fixed key and text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch/metadata_signature.h"
#include "fetch/script_metadata.h"
#include "fetch/signing_key.h"
#include "tests/fetch/fetch_test_util.h"
#include "tests/fetch/http_test_util.h"

namespace {

const std::string kHex(64, 'a');

// A well-formed metadata text with `packages` package lines and a dummy
// signature.
std::string Valid(int packages = 1) {
  std::string t = "TQUpdate-Script-Metadata 1\nSerial 42\nExpires 2030-06-01T12:00:00Z\nScript 100 " + kHex + "\n";
  for (int i = 0; i < packages; ++i) t += "Package p" + std::to_string(i) + ".msi prod-win64 10 " + kHex + "\n";
  return t + "Signature AAAA\n";
}

// `text` with the first `from` replaced by `to`.
std::string With(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

// Text that is not well-formed metadata is refused with a reason naming
// what is wrong (and the line where there is one).
TEST(ScriptMetadata, RefusesDamagedText) {
  const std::string v = Valid();
  const std::string body = v.substr(0, v.find("Signature"));
  const struct {
    const char* what;
    std::string text;
    const char* reason;
  } cases[] = {
      {"empty", "", "empty"},
      {"truncated", v.substr(0, v.size() - 3), "truncated"},
      {"truncated before the signature", body, "missing Signature"},
      {"binary", std::string("TQUpdate-Script-Metadata 1\n\x01\x02", 30) + "\n", "not text"},
      {"NUL byte", With(v, "Serial 42", std::string("Serial 4\0", 9)), "not text: byte 0"},
      {"CR line ends", With(v, "Serial 42\n", "Serial 42\r\n"), "not text: byte 13"},
      {"no header", v.substr(v.find('\n') + 1), "line 1: not script metadata"},
      {"other version", With(v, "Metadata 1", "Metadata 2"), "line 1: unsupported version: 2"},
      {"duplicate Serial", With(v, "Serial 42\n", "Serial 42\nSerial 43\n"), "line 3: duplicate Serial"},
      {"duplicate Expires", With(v, "\nScript", "\nExpires 2030-06-01T12:00:00Z\nScript"), "line 4: duplicate Expires"},
      {"duplicate Script", With(v, "Package", "Script 100 " + kHex + "\nPackage"), "line 5: duplicate Script"},
      {"duplicate Package", With(v, "Signature", "Package p0.msi other-win64 10 " + kHex + "\nSignature"),
       "duplicate Package p0.msi"},
      {"missing Serial", With(v, "Serial 42\n", ""), "missing Serial"},
      {"missing Expires", With(v, "Expires 2030-06-01T12:00:00Z\n", ""), "missing Expires"},
      {"missing Script", With(v, "Script 100 " + kHex + "\n", ""), "missing Script"},
      {"serial 0", With(v, "Serial 42", "Serial 0"), "Serial is not a number from 1"},
      {"serial 2^64", With(v, "Serial 42", "Serial 18446744073709551616"), "Serial is not a number"},
      {"serial with a leading zero", With(v, "Serial 42", "Serial 042"), "Serial is not a number"},
      {"serial negative", With(v, "Serial 42", "Serial -1"), "Serial is not a number"},
      {"expiry not a time", With(v, "2030-06-01T12:00:00Z", "tomorrow"), "Expires is not a time"},
      {"expiry 30 February", With(v, "2030-06-01", "2030-02-30"), "Expires is not a time"},
      {"expiry without zone", With(v, "12:00:00Z", "12:00:00+"), "Expires is not a time"},
      {"script hash short", With(v, "Script 100 " + kHex, "Script 100 " + kHex.substr(1)), "Script SHA-256 is not"},
      {"script hash upper case", With(v, "Script 100 " + kHex, "Script 100 " + std::string(64, 'A')),
       "Script SHA-256 is not"},
      {"package hash long", With(v, "10 " + kHex, "10 " + kHex + "a"), "Package SHA-256 is not"},
      {"package length 0", With(v, " 10 ", " 0 "), "Package length is not"},
      {"package length beyond 1 TiB", With(v, " 10 ", " 1099511627777 "), "Package length is not"},
      {"package path", With(v, "p0.msi", "../p0.msi"), "Package file name is not a file name"},
      {"package name bad escape", With(v, "p0.msi", "p%2.msi"), "Package file name is not"},
      {"package name control byte", With(v, "p0.msi", "p%0A.msi"), "Package file name is not"},
      {"package unknown mark", With(v, kHex + "\nSignature", kHex + " Upgrade\nSignature"), "Package needs"},
      {"unknown field", With(v, "Signature", "Mirror x\nSignature"), "unknown field: Mirror"},
      {"10,000 package lines", Valid(10000), "line 1005: more than 1000 Package lines"},
      {"signature not Base64", With(v, "Signature AAAA", "Signature AA*A"), "Signature is not Base64"},
      {"signature with a blank", With(v, "Signature AAAA", "Signature AA AA"), "Signature is not Base64"},
      {"signature empty", With(v, "Signature AAAA", "Signature "), "Signature is not Base64"},
      {"signature not last", v + "Serial 43\n", "Signature is not the last line"},
      {"overlong line", With(v, "Signature", std::string(2000, 'x') + "\nSignature"),
       "line 6: longer than 1024 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdScriptMetadata meta;
    std::string error;
    EXPECT_EQ(UpdParseScriptMetadata(c.text, &meta, &error), -1);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

// What the writer makes reads back to the same fields: names with blanks,
// "%" and bytes above 127, the largest serial, the downgrade mark; the body
// is everything before the Signature line.
TEST(ScriptMetadata, WriterReadsBack) {
  UpdScriptMetadata meta{};
  meta.serial = UINT64_MAX;
  meta.expires = 4102444800;  // 2100-01-01
  meta.script_length = 0;
  meta.script_sha256.fill(0x5a);
  UpdMetaPackage a{"a b%c.msi", "prod win64", 1, {}, 0};
  a.sha256.fill(0x01);
  UpdMetaPackage b{"\xe4.msi", "old-win64", int64_t{1} << 40, {}, 1};
  meta.packages = {a, b};
  std::string body = UpdScriptMetadataBody(meta);
  EXPECT_NE(body.find("Package a%20b%25c.msi prod%20win64 1 "), std::string::npos) << body;
  EXPECT_NE(body.find("Package %E4.msi old-win64 1099511627776 "), std::string::npos) << body;
  EXPECT_NE(body.find("Expires 2100-01-01T00:00:00Z\n"), std::string::npos) << body;
  std::string text = UpdScriptMetadataText(body, {1, 2, 3, 4});
  UpdScriptMetadata back;
  std::string error;
  ASSERT_EQ(UpdParseScriptMetadata(text, &back, &error), 0) << error;
  EXPECT_EQ(back.serial, UINT64_MAX);
  EXPECT_EQ(back.expires, meta.expires);
  EXPECT_EQ(back.script_sha256, meta.script_sha256);
  EXPECT_EQ(back.body, body);
  EXPECT_EQ(back.signature, (std::vector<unsigned char>{1, 2, 3, 4}));
  ASSERT_EQ(back.packages.size(), 2u);
  EXPECT_EQ(back.packages[0].file, "a b%c.msi");
  EXPECT_EQ(back.packages[0].product, "prod win64");
  EXPECT_EQ(back.packages[0].downgrade, 0);
  EXPECT_EQ(back.packages[1].file, "\xe4.msi");
  EXPECT_EQ(back.packages[1].length, int64_t{1} << 40);
  EXPECT_EQ(back.packages[1].downgrade, 1);
  EXPECT_EQ(UpdMetadataPackage(back, "a b%c.msi"), &back.packages[0]);
  EXPECT_EQ(UpdMetadataPackage(back, "a"), nullptr);
}

// Times, metadata names and Base64 as the format has them.
TEST(ScriptMetadata, TimesNamesAndBase64) {
  const struct {
    const char* text;
    int64_t seconds; // -1: refused
  } times[] = {{"1970-01-01T00:00:00Z", 0},          {"2000-02-29T23:59:59Z", 951868799},
               {"2100-03-01T00:00:00Z", 4107542400}, {"9999-12-31T23:59:59Z", 253402300799},
               {"2100-02-29T00:00:00Z", -1},         {"1969-12-31T23:59:59Z", -1},
               {"2030-01-01T24:00:00Z", -1},         {"2030-01-01 00:00:00Z", -1},
               {"2030-1-01T00:00:00Z", -1}};
  for (const auto& t : times) {
    SCOPED_TRACE(t.text);
    int64_t s = -1;
    EXPECT_EQ(UpdParseUtcTime(t.text, &s), t.seconds < 0 ? -1 : 0);
    if (t.seconds >= 0) {
      EXPECT_EQ(s, t.seconds);
      EXPECT_EQ(UpdUtcTimeText(s), t.text);
    }
  }
  const struct {
    const char* script;
    const char* meta;
  } names[] = {{"/updscript.txt", "/updscript.sig"}, {"/a.b/upd", "/a.b/upd.sig"}, {"C:\\x\\s.txt", "C:\\x\\s.sig"},
               {"/s.sig", "/s.sig.sig"},             {"upd", "upd.sig"},           {"/d/.hidden", "/d/.hidden.sig"}};
  for (const auto& n : names) EXPECT_EQ(UpdScriptMetadataName(n.script), n.meta) << n.script;
  const struct {
    const char* text;
    int ok;
  } b64[] = {{"", 1}, {"AA==", 1}, {"AAA=", 1}, {"AAAA", 1}, {"AB==", 0}, {"AAB=", 0}, {"A===", 0},
             {"AA=A", 0}, {"AAA", 0}, {"AA\nA", 0}, {"====", 0}};
  for (const auto& b : b64) {
    std::vector<unsigned char> out;
    EXPECT_EQ(UpdBase64Strict(b.text, &out) == 0, b.ok == 1) << b.text;
    if (b.ok) {
      EXPECT_EQ(UpdBase64(out), b.text);
    }
  }
}

// Known answers of the signature: the development key (fixed) over a fixed
// body, the expected signature made by the openssl command over the
// context, its zero byte and the body. PKCS #1 v1.5 is deterministic, so the
// bytes are equal; each side's signature verifies with the other's check. A
// package-style signature (SHA-1 over a SHA-1 digest) and a signature of the
// body without the context are never taken for metadata signatures.
TEST(MetadataSignature, KnownAnswersOfTheOpensslCommand) {
  FetchSystem f;
  const std::string body =
      "TQUpdate-Script-Metadata 1\nSerial 3\nExpires 2031-01-01T00:00:00Z\nScript 5 " + kHex + "\n";
  std::string message = f.sys().path("message.bin");
  std::string bare = f.sys().path("body.txt");
  httpt::WriteAll(message, UpdMetadataSignedMessage(body));
  httpt::WriteAll(bare, body);
  ASSERT_EQ(UpdMetadataSignedMessage(body).size(), std::string(kUpdMetadataContext).size() + 1 + body.size());
  auto openssl = [&](const std::string& args) {
    std::string out, err;
    EXPECT_EQ(RunSplit("openssl " + args + " | base64 -w0", &out, &err), 0) << err;
    std::vector<unsigned char> sig;
    EXPECT_EQ(UpdBase64Strict(out, &sig), 0) << out;
    return sig;
  };
  std::vector<unsigned char> expected =
      openssl("dgst -sha256 -sign " + Quoted(DevPrivateKey()) + " " + Quoted(message));
  std::vector<unsigned char> ours;
  std::string error;
  ASSERT_EQ(UpdMetadataSign(DevPrivateKey().c_str(), body, &ours, &error), 0) << error;
  EXPECT_EQ(ours, expected);
  EXPECT_EQ(ours.size(), 384u);  // RSA-3072
  std::string public_pem = httpt::ReadAll(DevPublicKey());
  EXPECT_EQ(UpdMetadataVerifyWith(public_pem.c_str(), body, expected), 1);
  std::string out, err;
  ASSERT_EQ(RunSplit("openssl pkey -in " + Quoted(DevPrivateKey()) + " -pubout -out " +
                     Quoted(f.sys().path("pub.pem")) + " && printf %s " + Quoted(UpdBase64(ours)) +
                     " | base64 -d > " + Quoted(f.sys().path("sig.bin")) + " && openssl dgst -sha256 -verify " +
                     Quoted(f.sys().path("pub.pem")) + " -signature " + Quoted(f.sys().path("sig.bin")) + " " +
                     Quoted(message),
                     &out, &err),
            0)
      << out << err;

  const struct {
    const char* what;
    std::vector<unsigned char> sig;
  } refused[] = {
      {"package signature of the message", openssl("dgst -sha1 -binary " + Quoted(message) +
                                                   " | openssl pkeyutl -sign -pkeyopt digest:sha1 -inkey " +
                                                   Quoted(DevPrivateKey()))},
      {"signature of the body alone", openssl("dgst -sha256 -sign " + Quoted(DevPrivateKey()) + " " + Quoted(bare))},
      {"one bit changed", [&] {
         std::vector<unsigned char> s = expected;
         s[100] ^= 1;
         return s;
       }()},
      {"cut short", std::vector<unsigned char>(expected.begin(), expected.end() - 1)},
      {"empty", {}},
  };
  for (const auto& r : refused) EXPECT_EQ(UpdMetadataVerifyWith(public_pem.c_str(), body, r.sig), 0) << r.what;
  EXPECT_EQ(UpdMetadataVerifyWith(public_pem.c_str(), body + "x", expected), 0);
  if (DevKeyCompiledIn()) {
    EXPECT_GE(UpdMetadataVerify(body, expected), 0);
  }
}

// Key rotation: a signature by either of two keys verifies with that key's
// public half only; a key the build does not know is refused by the
// compiled-in list.
TEST(MetadataSignature, EachKeyVerifiesItsOwnSignatures) {
  FetchSystem f;
  const std::string body = "TQUpdate-Script-Metadata 1\nSerial 9\n";
  std::vector<std::string> pubs;
  std::vector<std::vector<unsigned char>> sigs;
  for (const char* name : {"old", "new"}) {
    std::string priv = f.sys().path(std::string(name) + "-private.pem");
    std::string pub = f.sys().path(std::string(name) + "-public.pem");
    std::string out, err;
    ASSERT_EQ(RunSplit("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + Quoted(priv) +
                       " 2>/dev/null && openssl pkey -in " + Quoted(priv) + " -pubout -out " + Quoted(pub),
                       &out, &err),
              0)
        << err;
    pubs.push_back(httpt::ReadAll(pub));
    std::vector<unsigned char> sig;
    std::string error;
    ASSERT_EQ(UpdMetadataSign(priv.c_str(), body, &sig, &error), 0) << error;
    sigs.push_back(sig);
  }
  for (size_t k = 0; k < pubs.size(); ++k)
    for (size_t s = 0; s < sigs.size(); ++s)
      EXPECT_EQ(UpdMetadataVerifyWith(pubs[k].c_str(), body, sigs[s]), k == s ? 1 : 0) << k << " " << s;
  EXPECT_EQ(UpdMetadataVerify(body, sigs[0]), -1);
  EXPECT_GE(UpdSigningPublicKeyCount(), 1);
  EXPECT_EQ(UpdSigningPublicKeyAt(UpdSigningPublicKeyCount()), nullptr);
  EXPECT_STREQ(UpdSigningPublicKeyAt(0), UpdSigningPublicKey());
}
