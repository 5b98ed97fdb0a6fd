// The reliability layer's own operation: option negotiation from this end.
#pragma once

#include <cstdint>

struct RVExt;

// Option bits of message 2027.
enum : uint32_t {
  RVOPT_CHECKS_ON = 0x1,
  RVOPT_CHECKS_OFF = 0x2,
  RVOPT_QUEUE_ON = 0x4,
  RVOPT_QUEUE_OFF = 0x8,
  RVOPT_EXTENDED = 0x10,
  RVOPT_SCRAMBLE = 0x20,
  RVOPT_VECTORS = 0x40,
};

// Sends a 2027 proposing `bits` in the current header form, flushes, then
// switches this end's own sending to them. 0, or -1 when the connection is broken.
int RVExtProposeOptions(RVExt* ext, uint32_t bits);

// Switches this end's own sending to `bits` (what a proposal or an answer
// adopts): checked headers, acknowledgements, scrambling, per-message
// vectors with an immediate rekey.
void RVExtApplySendOptions(RVExt* ext, uint32_t bits);
