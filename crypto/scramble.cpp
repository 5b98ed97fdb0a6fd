// Password scrambling over the ZIP 2.0 traditional cipher.
#include "crypto/scramble.h"

#include <cstring>

#include "crypto/wipe.h"
#include "crypto/zip_cipher.h"
#include "platform/system.h"
#include "runtime/env.h"
#include "runtime/mutex.h"

const char RV_SCRAMBLE_ALPHABET[] = "0123456789abcdefghijkmnopqrstuvwxyz";

namespace {

// Holds the scrambling mutex for one operation. The cipher state of an
// operation lives in the operation itself, so a missing mutex never mixes
// two passwords' keys.
class ScrambleLock {
 public:
  ScrambleLock() : mutex_(RVLocalMutex()) { held_ = mutex_ && RVMutexLock(mutex_) == 0; }
  ~ScrambleLock() {
    if (held_) RVMutexUnlock(mutex_);
  }
  ScrambleLock(const ScrambleLock&) = delete;
  ScrambleLock& operator=(const ScrambleLock&) = delete;

 private:
  RVMutex* mutex_; // the runtime's local mutex, or null
  bool held_;      // true when it was taken
};

// Position of `c` in the alphabet, or 255.
unsigned Digit(char c) {
  const char* p = c ? std::strchr(RV_SCRAMBLE_ALPHABET, c) : nullptr;
  return p ? static_cast<unsigned>(p - RV_SCRAMBLE_ALPHABET) : 255u;
}

// Scrambles `plain` with `key` into hexadecimal at `out`; the caller holds the lock.
void ScrambleHex(const char* plain, char* out, const char* key) {
  RVZipKeys keys;
  RVZipInitKeys(&keys, key);
  size_t n = 0;
  for (const char* p = plain ? plain : ""; *p; p++) {
    unsigned char x = RVZipEncryptByte(&keys, static_cast<unsigned char>(*p));
    out[n++] = RV_SCRAMBLE_ALPHABET[x >> 4];
    out[n++] = RV_SCRAMBLE_ALPHABET[x & 0x0F];
  }
  out[n] = '\0';
  RVCryptoWipe(&keys, sizeof keys);
}

}  // namespace

void RVScrambleKeyLetters(uint32_t t, char letters[3]) {
  letters[0] = static_cast<char>('A' + t % 26);
  letters[1] = static_cast<char>('A' + (~t) % 26);
  letters[2] = '\0';
}

void RVScramble(const char* plain, char* out) {
  RVScrambleAt(plain, out, static_cast<uint32_t>(PlatTimeNow()));
}

void RVScrambleAt(const char* plain, char* out, uint32_t t) {
  char letters[3];
  RVScrambleKeyLetters(t, letters);
  ScrambleLock lock;
  out[0] = letters[0];
  out[1] = letters[1];
  ScrambleHex(plain, out + 2, letters);
}

void RVScrambleWithKey(const char* plain, char* out, const char* key) {
  ScrambleLock lock;
  ScrambleHex(plain, out, key);
}

int RVUnscrambleWithKey(const char* hex, char* out, const char* key) {
  size_t len = hex ? std::strlen(hex) : 0;
  out[0] = '\0';
  if (len % 2 != 0) return -1;
  ScrambleLock lock;
  RVZipKeys keys;
  RVZipInitKeys(&keys, key);
  size_t n = 0;
  for (size_t i = 0; i < len; i += 2) {
    unsigned char x = static_cast<unsigned char>((Digit(hex[i]) * 16 + Digit(hex[i + 1])) % 256);
    out[n++] = static_cast<char>(RVZipDecryptByte(&keys, x));
  }
  out[n] = '\0';
  RVCryptoWipe(&keys, sizeof keys);
  return 0;
}

int RVUnscrambleCurrent(const char* text, char* out) {
  out[0] = '\0';
  if (!text || !text[0] || !text[1]) return -1;
  char letters[3] = {text[0], text[1], '\0'};
  return RVUnscrambleWithKey(text + 2, out, letters);
}

void RVScrambleInPlace(unsigned char* buf, size_t len, const char* key) {
  ScrambleLock lock;
  RVZipKeys keys;
  RVZipInitKeys(&keys, key);
  for (size_t i = 0; i < len; i++) buf[i] = RVZipEncryptByte(&keys, buf[i]);
  RVCryptoWipe(&keys, sizeof keys);
}

void RVUnscrambleInPlace(unsigned char* buf, size_t len, const char* key) {
  ScrambleLock lock;
  RVZipKeys keys;
  RVZipInitKeys(&keys, key);
  for (size_t i = 0; i < len; i++) buf[i] = RVZipDecryptByte(&keys, buf[i]);
  RVCryptoWipe(&keys, sizeof keys);
}
