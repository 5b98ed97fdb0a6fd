// Channel security: the cipher states of a connection and the test seam
// that installs them with fixed keys.
#pragma once

#include <cstddef>
#include <cstdint>

struct RVExt;

// A new cipher state (RVAlloc'd, set up): `algorithm`, `mode`, the key of
// `key_len` bytes and, when `iv` is given, the base vector of `iv_len`
// bytes; without `iv` a random base vector of the cipher's length. Null
// when the combination selects no cipher.
struct RVCryptoCipher* RVChannelNewState(int algorithm, int mode, const unsigned char* key, int key_len,
                                         const unsigned char* iv, int iv_len);

// Sets the vector of the next body of `state` for message `type` and `id`:
// per-message (derived by encrypting a block from type and id) or from
// the base vector. A state without a vector length is left alone.
void RVChannelSetVector(struct RVCryptoCipher* state, int per_message, int type, int32_t id);

// Installs send and receive states on `ext` with a fixed `key` and base
// vector `iv`, the connection's algorithm and mode and the saved key, as
// secure authentication would. 0, or -1 when the cipher selects none.
int RVChannelInstall(RVExt* ext, int algorithm, int mode, const unsigned char* key, int key_len,
                     const unsigned char* iv, int iv_len, const unsigned char* saved_key, int saved_len);

// The scrambling password of a message id: the fixed key with its first
// character replaced by 'a' + (|id| mod 26). `out` holds 8 bytes.
void RVChannelScrambleKey(int32_t id, char out[8]);
