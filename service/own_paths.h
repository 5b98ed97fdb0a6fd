// The directories and files the service keeps as its own: made safe at the
// start of every worker run.
#pragma once

// Narrows every directory and file of the service's own that an earlier
// version left writable by group or others, logging each (level 9), and
// refuses one that is a symbolic link or belongs to another user with a
// logged error naming the path and its owner (level 9). Returns the number
// of paths refused; the service goes on either way, and its file functions
// refuse to write through such a path.
int UpdSecureOwnPaths();
