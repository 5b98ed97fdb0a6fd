// Encoding and checking of the installer host's requests and answers.
// Portable.
#include "platform/installer_wire/wire.h"

#include <cstring>

namespace {

// Which fields a kind of request uses.
struct KindUse {
  bool a, b, text1, text2;
};

// The use of `kind`; false for an unknown kind.
bool UseOf(uint8_t kind, KindUse* use) {
  switch (kind) {
    case MSI_WIRE_OPEN_PACKAGE: *use = {false, false, true, false}; return true;
    case MSI_WIRE_OPEN_PRODUCT: *use = {false, false, true, false}; return true;
    case MSI_WIRE_GET_PROPERTY: *use = {true, false, true, false}; return true;
    case MSI_WIRE_CLOSE_HANDLE: *use = {true, false, false, false}; return true;
    case MSI_WIRE_INSTALL: *use = {false, false, true, true}; return true;
    case MSI_WIRE_CONFIGURE: *use = {true, true, true, false}; return true;
    case MSI_WIRE_ENUM_PRODUCTS: *use = {true, false, false, false}; return true;
    default: return false;
  }
}

// True when the fields `req` sets are the ones its kind uses, with texts in
// bounds.
bool RequestValid(const MsiWireRequest& req) {
  KindUse use;
  if (!UseOf(req.kind, &use)) return false;
  if ((!use.a && req.a) || (!use.b && req.b) || (!use.text1 && !req.text1.empty()) ||
      (!use.text2 && !req.text2.empty()))
    return false;
  for (const std::string* t : {&req.text1, &req.text2}) {
    if (t->size() > kMsiWireMaxRequestText || t->find('\0') != std::string::npos) return false;
  }
  return true;
}

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutText(std::string* out, const std::string& t) {
  PutU32(out, static_cast<uint32_t>(t.size()));
  out->append(t);
}

// Reads fields off the front of a body.
struct Reader {
  std::string_view rest;  // bytes not read yet
  bool ok = true;         // false once a read ran past the end

  uint32_t U32() {
    if (rest.size() < 4) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(static_cast<unsigned char>(rest[i])) << (8 * i);
    rest.remove_prefix(4);
    return v;
  }

  uint8_t U8() {
    if (rest.empty()) {
      ok = false;
      return 0;
    }
    uint8_t v = static_cast<uint8_t>(rest[0]);
    rest.remove_prefix(1);
    return v;
  }

  // A text of at most `max` bytes without NUL.
  std::string Text(size_t max) {
    uint32_t n = U32();
    if (!ok || n > max || n > rest.size()) {
      ok = false;
      return std::string();
    }
    std::string t(rest.substr(0, n));
    rest.remove_prefix(n);
    if (t.find('\0') != std::string::npos) ok = false;
    return t;
  }
};

// The frame of `body`.
std::string Frame(const std::string& body) {
  std::string out;
  out.reserve(kMsiWireLengthSize + body.size());
  PutU32(&out, static_cast<uint32_t>(body.size()));
  out.append(body);
  return out;
}

}  // namespace

std::string MsiWireEncodeRequest(const MsiWireRequest& req) {
  if (!RequestValid(req)) return std::string();
  std::string body(1, static_cast<char>(req.kind));
  PutU32(&body, req.a);
  PutU32(&body, req.b);
  PutText(&body, req.text1);
  PutText(&body, req.text2);
  return Frame(body);
}

int MsiWireDecodeRequest(std::string_view body, MsiWireRequest* req) {
  if (body.size() > kMsiWireMaxRequestBody) return -1;
  Reader r{body};
  req->kind = r.U8();
  req->a = r.U32();
  req->b = r.U32();
  req->text1 = r.Text(kMsiWireMaxRequestText);
  req->text2 = r.Text(kMsiWireMaxRequestText);
  if (!r.ok || !r.rest.empty()) return -1;
  return RequestValid(*req) ? 0 : -1;
}

std::string MsiWireEncodeAnswer(const MsiWireAnswer& ans) {
  if (ans.text.size() > kMsiWireMaxAnswerText || ans.text.find('\0') != std::string::npos) return std::string();
  std::string body(1, static_cast<char>(ans.kind));
  PutU32(&body, ans.result);
  PutU32(&body, ans.number);
  PutText(&body, ans.text);
  return Frame(body);
}

int MsiWireDecodeAnswer(std::string_view body, MsiWireAnswer* ans) {
  if (body.size() > kMsiWireMaxAnswerBody) return -1;
  Reader r{body};
  ans->kind = r.U8();
  ans->result = r.U32();
  ans->number = r.U32();
  ans->text = r.Text(kMsiWireMaxAnswerText);
  if (!r.ok || !r.rest.empty()) return -1;
  KindUse use;
  return UseOf(ans->kind, &use) ? 0 : -1;
}

int MsiWireBodyLength(const unsigned char field[kMsiWireLengthSize], size_t max, uint32_t* size) {
  uint32_t n = 0;
  for (size_t i = 0; i < kMsiWireLengthSize; i++) n |= static_cast<uint32_t>(field[i]) << (8 * i);
  if (n == 0 || n > max) return -1;
  *size = n;
  return 0;
}
