// The traditional ZIP 2.0 encryption.
#include "crypto/zip_cipher.h"

#include <array>

namespace {

// The standard CRC-32 table (reflected polynomial 0xEDB88320).
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

// One CRC-32 step of `crc` with byte `b`.
uint32_t Crc32Step(uint32_t crc, unsigned char b) { return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8); }

}  // namespace

void RVZipInitKeys(RVZipKeys* keys, const char* password) {
  keys->key0 = 0x12345678u;
  keys->key1 = 0x23456789u;
  keys->key2 = 0x34567890u;
  if (!password) return;
  for (const char* p = password; *p; p++) RVZipUpdateKeys(keys, static_cast<unsigned char>(*p));
}

void RVZipUpdateKeys(RVZipKeys* keys, unsigned char plain) {
  keys->key0 = Crc32Step(keys->key0, plain);
  keys->key1 = (keys->key1 + (keys->key0 & 0xFF)) * 134775813u + 1;
  keys->key2 = Crc32Step(keys->key2, static_cast<unsigned char>(keys->key1 >> 24));
}

unsigned char RVZipStreamByte(const RVZipKeys* keys) {
  uint32_t t = keys->key2 | 2;
  return static_cast<unsigned char>(((t * (t ^ 1)) >> 8) & 0xFF);
}

unsigned char RVZipEncryptByte(RVZipKeys* keys, unsigned char plain) {
  unsigned char k = RVZipStreamByte(keys);
  RVZipUpdateKeys(keys, plain);
  return static_cast<unsigned char>(plain ^ k);
}

unsigned char RVZipDecryptByte(RVZipKeys* keys, unsigned char cipher) {
  unsigned char plain = static_cast<unsigned char>(cipher ^ RVZipStreamByte(keys));
  RVZipUpdateKeys(keys, plain);
  return plain;
}
