// The LocalShare transport: a plain copy from a directory or network share.
#pragma once

// Replaces `destination` with a copy of `source` (names already
// normalised). The destination is deleted first (a missing one is fine);
// failing that, "Error: %d deleting file: %s" (level 9) and nothing is
// copied. A failed copy logs "Error: %d Copying file: %s to %s" (level 9)
// and leaves no destination. The copy is never seen half-written. 0 or -1.
int UpdLocalShareCopy(const char* source, const char* destination);
