// File names of named kernel objects under TQ_SYSTEM_ROOT/objects.
#pragma once

#include <string>

// Builds "<objects>/<kind>-<escaped name>" for a named object, creating the
// objects directory (0755: only its owner creates objects) when missing; a
// directory that another user (not the administrator) owns is refused (5). Characters other than
// letters, digits, "." "-" "_" are escaped as %XX; long names are shortened
// with a hash of the whole name. 0, or -1 with the last error.
int PlatObjectPath(const char* name, const char* kind, std::string* path);
