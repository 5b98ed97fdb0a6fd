// The traditional ZIP 2.0 encryption: three 32-bit keys initialised from a
// password text, updated with the CRC-32 table and the multiplier 134775813,
// the keystream byte taken from the third key.
#pragma once

#include <cstdint>

// The cipher state.
struct RVZipKeys {
  uint32_t key0; // CRC-32 of the plain bytes
  uint32_t key1; // linear congruential mix of key0's low byte
  uint32_t key2; // CRC-32 of key1's high bytes; gives the keystream
};

// Initialises the keys (0x12345678, 0x23456789, 0x34567890) and updates them
// with each character of `password` (null or empty: the initial keys).
void RVZipInitKeys(RVZipKeys* keys, const char* password);

// Updates the keys with one plain byte.
void RVZipUpdateKeys(RVZipKeys* keys, unsigned char plain);

// The keystream byte of the current state.
unsigned char RVZipStreamByte(const RVZipKeys* keys);

// Encrypts one byte: plain XOR keystream, then the keys take the plain byte.
unsigned char RVZipEncryptByte(RVZipKeys* keys, unsigned char plain);

// Decrypts one byte: cipher XOR keystream, then the keys take the result.
unsigned char RVZipDecryptByte(RVZipKeys* keys, unsigned char cipher);
