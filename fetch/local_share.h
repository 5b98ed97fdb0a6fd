// The LocalShare transport: a plain copy from a directory or network share.
#pragma once

#include <cstdint>

// Replaces `destination` with a copy of `source` (names already
// normalised). The destination is deleted first (a missing one is fine);
// failing that, "Error: %d deleting file: %s" (level 9) and nothing is
// copied. A failed copy logs "Error: %d Copying file: %s to %s" (level 9)
// and leaves no destination. The copy is never seen half-written and is on
// disk when it succeeds. A source over `max_bytes` (0: no cap) fails with
// 223 and a stop request with 995, each with a line of its own. 0 or -1.
int UpdLocalShareCopy(const char* source, const char* destination, int64_t max_bytes = 0);
