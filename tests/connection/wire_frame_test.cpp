// The frame codec against header and checksum bytes written by hand from
// the message layouts, in both directions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/wire_frame.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct GoldenFrame {
  const char* name;
  uint16_t type;
  int32_t id;
  Bytes body;
  int checked, extended;
  Bytes header; // written by hand
};

const GoldenFrame kGolden[] = {
    {"plain", 1, 5, {0x12, 0x34}, 0, 0, {0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x05}},
    {"classic", 1, 5, {0x12, 0x34}, 1, 0, {0x00, 0x01, 0x00, 0x02, 0x03, 0xAF, 0x00, 0x05, 0x12, 0x34}},
    {"extended", 1, 5, {0x12, 0x34}, 1, 1, {0x00, 0x01, 0x00, 0x02, 0x38, 0x00, 0x00, 0x05, 0x7A, 0x46}},
    // classic sum over an odd body: 0x0102 + 0x0300
    {"classic odd", 1, 5, {0x01, 0x02, 0x03}, 1, 0, {0x00, 0x01, 0x00, 0x03, 0x03, 0xEE, 0x00, 0x05, 0x04, 0x02}},
    // 9700 acknowledging id 7, classic
    {"ack", 9700, 3, {0x00, 0x07}, 1, 0, {0x25, 0xE4, 0x00, 0x02, 0x03, 0xE8, 0x00, 0x03, 0x00, 0x07}},
    // status 8000 with the failure bytes 7F FF, plain, a reply id -2
    {"status", 8000, -2, {0x7F, 0xFF}, 0, 0, {0x1F, 0x40, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFE}},
    // a first fragment keeps bit 15 and is valid
    {"first fragment", 0x8001, 1, {0xAB}, 1, 0, {0x80, 0x01, 0x00, 0x01, 0x03, 0xCF, 0x00, 0x01, 0xAB, 0x00}},
    // 2027 with option bits 0x15
    {"options", 2027, 1, {0x00, 0x00, 0x00, 0x15}, 0, 0, {0x07, 0xEB, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01}},
};

TEST(WireFrame, GoldenHeadersBothWays) {
  for (const GoldenFrame& g : kGolden) {
    SCOPED_TRACE(g.name);
    unsigned char out[RV_WIRE_HDR_CHECKED];
    int n = RVFrameEncodeHeader(out, sizeof out, g.type, g.id, g.body.data(), static_cast<uint16_t>(g.body.size()),
                                g.checked, g.extended);
    ASSERT_EQ(n, static_cast<int>(g.header.size()));
    EXPECT_EQ(Bytes(out, out + n), g.header);
    RVFrameHeader h;
    ASSERT_EQ(RVFrameDecodeHeader(g.header.data(), g.header.size(), g.checked, g.extended, &h), RV_FRAME_COMPLETE);
    EXPECT_EQ(h.type, g.type);
    EXPECT_EQ(h.length, g.body.size());
    EXPECT_EQ(h.id, g.id);
    if (g.checked) {
      EXPECT_EQ(RVFrameCheckBody(&h, g.body.data(), g.extended), RV_FRAME_COMPLETE);
    }
  }
}

TEST(WireFrame, ExtendedSumWeightsByIndexModSixteen) {
  Bytes ones(20, 1);
  // weights 1..15, 0, 1..4: 120 + 10 = 130; plain sum 20
  EXPECT_EQ(RVFrameSumExtended(ones.data(), ones.size()), 0x8214);
  Bytes only15(20, 0);
  only15[15] = 0xFF;  // weight 0 at index 15
  EXPECT_EQ(RVFrameSumExtended(only15.data(), only15.size()), 0x00FF);
  EXPECT_EQ(RVFrameSumClassic(only15.data(), 0), 0);
}

TEST(WireFrame, LargestBodyAcceptedOneMoreRefused) {
  Bytes body(1024, 0x5A);
  unsigned char h[RV_WIRE_HDR_CHECKED];
  ASSERT_EQ(RVFrameEncodeHeader(h, sizeof h, 1, 1, body.data(), 1024, 1, 0), RV_WIRE_HDR_CHECKED);
  EXPECT_EQ(h[2], 0x04);
  EXPECT_EQ(h[3], 0x00);
  // 1024 bytes of 0x5A5A words: 512 * 0x5A5A mod 65536
  EXPECT_EQ(RVGetBE16(h + 8), static_cast<uint16_t>(512u * 0x5A5Au));
  RVFrameHeader d;
  EXPECT_EQ(RVFrameDecodeHeader(h, sizeof h, 1, 0, &d), RV_FRAME_COMPLETE);
  EXPECT_EQ(RVFrameEncodeHeader(h, sizeof h, 1, 1, body.data(), 1025, 1, 0), -1);
  const unsigned char plain1025[] = {0x00, 0x01, 0x04, 0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(RVFrameDecodeHeader(plain1025, 8, 0, 0, &d), RV_FRAME_HEADER_1);
}

struct BadHeader {
  const char* name;
  Bytes header;
  int extended;
  RVFrameStatus want;
};

TEST(WireFrame, HeaderFaults) {
  const BadHeader cases[] = {
      {"type 10000", {0x27, 0x10, 0x00, 0x00, 0x03, 0xC6, 0x00, 0x00, 0x00, 0x00}, 0, RV_FRAME_HEADER_1},
      {"type 32767 valid", {0x7F, 0xFF, 0x00, 0x00, 0x03, 0x7F, 0x00, 0x00, 0x00, 0x00}, 0, RV_FRAME_COMPLETE},
      {"length 1025", {0x00, 0x01, 0x04, 0x01, 0x03, 0xF7, 0x00, 0x00, 0x00, 0x00}, 0, RV_FRAME_HEADER_1},
      {"classic byte A 2", {0x00, 0x01, 0x00, 0x02, 0x02, 0xB0, 0x00, 0x05, 0x12, 0x34}, 0, RV_FRAME_HEADER_1},
      {"sum not 0", {0x00, 0x01, 0x00, 0x02, 0x03, 0xAE, 0x00, 0x05, 0x12, 0x34}, 0, RV_FRAME_HEADER_2},
      {"weighted differs", {0x00, 0x01, 0x00, 0x02, 0x39, 0xFF, 0x00, 0x05, 0x7A, 0x46}, 1, RV_FRAME_HEADER_3},
      {"short", {0x00, 0x01, 0x00, 0x02, 0x03}, 0, RV_FRAME_NEED_MORE},
  };
  for (const BadHeader& c : cases) {
    SCOPED_TRACE(c.name);
    RVFrameHeader h;
    EXPECT_EQ(RVFrameDecodeHeader(c.header.data(), c.header.size(), 1, c.extended, &h), c.want);
  }
}

TEST(WireFrame, BodyFaultsNameTheirKind) {
  const unsigned char hdr[] = {0x00, 0x01, 0x00, 0x02, 0x38, 0x00, 0x00, 0x05, 0x7A, 0x46};
  RVFrameHeader h;
  ASSERT_EQ(RVFrameDecodeHeader(hdr, sizeof hdr, 1, 1, &h), RV_FRAME_COMPLETE);
  const unsigned char damaged[] = {0x12, 0x35};
  EXPECT_EQ(RVFrameCheckBody(&h, damaged, 1), RV_FRAME_BODY_1);
  h.body_sum = 0x1234;
  EXPECT_EQ(RVFrameCheckBody(&h, damaged, 0), RV_FRAME_BODY_2);
}

}  // namespace
