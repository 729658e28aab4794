// Paths in the tool are text in the system's ANSI code page (the A-form
// calls take them so); GDI+ takes UTF-16.
#pragma once

#include <windows.h>

#include <string>

namespace torvanel {

// Converts a path in the system's ANSI code page to UTF-16, as the A-form
// calls read it. Names the code page instead of relying on the process
// locale, so two threads may convert at once. Returns an empty text when the
// path is null or cannot be converted.
std::wstring WidePath(const char* path);

// The form of a UTF-16 path in codePage through which the A-form calls reach
// the same file: the path itself when every character has a form there;
// otherwise its short (8.3) name when that has one (a folder named in Japanese
// on a Western Windows); otherwise the lossy form, '?' for each character
// without one, as the A-form calls give it.
std::string AnsiPath(const std::wstring& path, UINT codePage = CP_ACP);

// The current directory as AnsiPath gives it; empty when it cannot be read.
std::string AnsiCurrentDirectory();

}  // namespace torvanel
