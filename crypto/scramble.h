// Password scrambling: the ZIP 2.0 traditional cipher keyed from a password
// text, with the scrambled bytes written as hexadecimal digits. Obfuscation,
// not protection: the key travels with the scrambled text or is fixed.
//
// Password forms:
//   current                two key letters, then the password scrambled with
//                          those letters as the key, in hexadecimal
//   fixed-key hexadecimal  the password scrambled with the fixed key, in hexadecimal
//   fixed-key raw          the password scrambled with the fixed key, raw bytes
// An empty password is the empty text in every form, except that its current
// form is just the two key letters.
//
// Every operation runs under the scrambling mutex (the runtime's local mutex)
// from its key initialisation to its last byte.
#pragma once

#include <cstddef>
#include <cstdint>

// The fixed key, the same in every program of the system and in the server.
#define RV_SCRAMBLE_FIXED_KEY "#52+83?"

// The hexadecimal alphabet (no letter l): bytes are written with its first
// sixteen characters; when reading, a character stands for its position, a
// character not in it for 255.
extern const char RV_SCRAMBLE_ALPHABET[];

// The two key letters of time `t` (seconds, as an unsigned 32-bit number):
// "A" + t mod 26 and "A" + (~t) mod 26; letters[2] = 0.
void RVScrambleKeyLetters(uint32_t t, char letters[3]);

// Writes the current form of `plain` with key letters from the current time
// into `out` (2 * strlen(plain) + 3 bytes).
void RVScramble(const char* plain, char* out);

// As RVScramble with the key letters of time `t`.
void RVScrambleAt(const char* plain, char* out, uint32_t t);

// Writes `plain` scrambled with the ZIP password `key` as hexadecimal digits
// into `out` (2 * strlen(plain) + 1 bytes), zero-terminated.
void RVScrambleWithKey(const char* plain, char* out, const char* key);

// Reads hexadecimal pairs of `hex` to its end and writes the plain bytes,
// zero-terminated, into `out` (strlen(hex) / 2 + 1 bytes). A text of odd
// length is refused: -1 and `out` empty. Else 0.
int RVUnscrambleWithKey(const char* hex, char* out, const char* key);

// Unscrambles the current form: the text after the two key letters with the
// letters as the key. -1 (and `out` empty) for a text shorter than the two
// letters or with an odd hexadecimal part; `out` needs strlen(text) / 2 bytes.
int RVUnscrambleCurrent(const char* text, char* out);

// Scrambles `len` raw bytes in place with the ZIP password `key`.
void RVScrambleInPlace(unsigned char* buf, size_t len, const char* key);

// Unscrambles `len` raw bytes in place with the ZIP password `key`.
void RVUnscrambleInPlace(unsigned char* buf, size_t len, const char* key);
