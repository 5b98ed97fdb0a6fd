// Hands a property's value to a caller's buffer by the installer's rules,
// for the installer itself and for its client alike.
#pragma once

#include <cstdint>
#include <string>

// Copies `value` into buf as MsiGetProductPropertyA does: on entry *size is
// the buffer's size in characters with the NUL, on return the value's length
// without it. 0, or 234 when the buffer is too small (it then holds the value
// cut to fit). A null size or buf only reports the length.
uint32_t MsiCopyPropertyOut(const std::string& value, char* buf, uint32_t* size);
