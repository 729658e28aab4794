// Paths in the tool are code page 932 text; GDI+ takes UTF-16.
#pragma once

#include <string>

namespace torvanel {

// Converts a code page 932 path to UTF-16. Names the code page itself instead
// of relying on the process locale, so two threads may convert at once.
// Returns an empty text when the path is null or cannot be converted.
std::wstring WidePath(const char* path);

}  // namespace torvanel
