// Program paths inside command lines (the service's binary path, the
// commands the service starts).
#pragma once

#include <string>

// `path` as the first word of a command line: in double quotes when it
// holds a blank or a tab (so that the whole path names the program), else
// unchanged. Null gives "".
std::string RVCommandProgram(const char* path);
