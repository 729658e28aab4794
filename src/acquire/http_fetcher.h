// One HTTP GET of a URL into one local file, through WinINet.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

namespace torvanel {

// Downloads url into path with a handle of its own. The file at path is
// replaced only by a complete body (an error page included); a refused
// request, a failed read or a body shorter than its Content-Length leaves it
// byte for byte as it was.
void DownloadToFile(const char* url, const char* path);

// The request and the copy of DownloadToFile, on an open Internet handle.
void CopyUrlToFile(HINTERNET internetHandle, const char* url, const char* path);

// Reads a Content-Length value: decimal digits only, at most 64 bits.
// Returns false for anything else, which means the length is not known.
bool ParseContentLength(const char* text, uint64_t* length);

}  // namespace torvanel
