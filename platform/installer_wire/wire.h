// The exchange between the installer's client library and the installer
// host program (tqmsihost), which carries out installer operations in a
// process of its own. Portable.
//
// The client writes one request and reads one answer, over the host's
// standard input and output (one stream socket). Each message is a frame:
//
//   frame   = length body          length: 4 bytes, little endian, 1 to the
//                                  direction's bound, the size of body
//   request = kind a b text1 text2
//   answer  = kind result number text
//   kind    = 1 byte (MsiWireKind; an answer repeats its request's kind)
//   a, b, result, number = 4 bytes each, little endian
//   text    = count bytes          count: 4 bytes, little endian; no NUL
//                                  byte among the bytes
//
// A body holds exactly its fields, nothing after them. What each kind uses:
//
//   kind            a               b              text1          text2
//   OPEN_PACKAGE    0               0              package path   ""
//   OPEN_PRODUCT    0               0              product code   ""
//   GET_PROPERTY    handle          0              property name  ""
//   CLOSE_HANDLE    handle          0              ""             ""
//   INSTALL         0               0              package path   property string
//   CONFIGURE       install level   install state  product code   ""
//   ENUM_PRODUCTS   index           0              ""             ""
//
// Fields a kind does not use are 0 or empty, or the request is malformed.
// An answer's result is the installer's result code; number is the handle of
// an opened package or product (0 otherwise); text is the value of a
// property or an enumerated product code ("" otherwise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Kinds of request.
enum MsiWireKind : uint8_t {
  MSI_WIRE_OPEN_PACKAGE = 1,
  MSI_WIRE_OPEN_PRODUCT = 2,
  MSI_WIRE_GET_PROPERTY = 3,
  MSI_WIRE_CLOSE_HANDLE = 4,
  MSI_WIRE_INSTALL = 5,
  MSI_WIRE_CONFIGURE = 6,
  MSI_WIRE_ENUM_PRODUCTS = 7,
};

// Longest text of a request: a path, a product code, a property name or a
// property string (whose own bound is 32767 characters).
constexpr size_t kMsiWireMaxRequestText = 65536;
// Longest text of an answer: a property value.
constexpr size_t kMsiWireMaxAnswerText = 1 << 20;
// Size of a frame's length field.
constexpr size_t kMsiWireLengthSize = 4;
// Largest body of a request and of an answer.
constexpr size_t kMsiWireMaxRequestBody = 1 + 4 + 4 + 4 + kMsiWireMaxRequestText + 4 + kMsiWireMaxRequestText;
constexpr size_t kMsiWireMaxAnswerBody = 1 + 4 + 4 + 4 + kMsiWireMaxAnswerText;

// A request to the host.
struct MsiWireRequest {
  uint8_t kind = 0;      // MsiWireKind
  uint32_t a = 0;        // handle, install level or index (see the table above)
  uint32_t b = 0;        // install state
  std::string text1;     // path, product code or property name
  std::string text2;     // property string of an installation
};

// The host's answer to one request.
struct MsiWireAnswer {
  uint8_t kind = 0;      // the request's kind
  uint32_t result = 0;   // installer result code
  uint32_t number = 0;   // handle opened, or 0
  std::string text;      // property value or product code, or ""
};

// The frame (length and body) of a request; "" when a field is out of its
// bounds (a text too long or holding a NUL byte, fields the kind does not
// use, an unknown kind).
std::string MsiWireEncodeRequest(const MsiWireRequest& req);

// Reads a request body (without its length field): 0, or -1 when it is
// malformed in any way (*req then undefined).
int MsiWireDecodeRequest(std::string_view body, MsiWireRequest* req);

// The frame of an answer; "" when its text is too long or holds a NUL byte.
std::string MsiWireEncodeAnswer(const MsiWireAnswer& ans);

// Reads an answer body (without its length field): 0, or -1 when it is
// malformed in any way (*ans then undefined).
int MsiWireDecodeAnswer(std::string_view body, MsiWireAnswer* ans);

// The body size a length field gives: 0, or -1 when it is 0 or above `max`.
int MsiWireBodyLength(const unsigned char field[kMsiWireLengthSize], size_t max, uint32_t* size);
