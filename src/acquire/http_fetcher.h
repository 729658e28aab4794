// One HTTP GET of a URL into one local file, through WinINet in its
// asynchronous mode, so that every wait has a bound and the quit ends it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace torvanel {

// A download that makes no progress (no byte of the answer, no new byte of the
// body) for stallMs, or that has not finished after totalMs, is abandoned.
struct DownloadLimits {
    DWORD stallMs;
    DWORD totalMs;
};
constexpr DownloadLimits kCameraLimits{10000, 60000};

// A body larger than this is no camera picture; it is not written to disk.
constexpr uint64_t kMaxBodyBytes = 64ull << 20;

enum class DownloadEnd {
    Body,          // a 2xx answer, its whole body in the file
    Status,        // an answer outside 200-299; its body is not kept
    NoConnection,  // refused, unknown host, network down, or the answer broke off
    Certificate,   // the server's HTTPS certificate is not trusted
    Stalled,       // abandoned by the limits
    Cancelled,     // the cancel event was set
    TooLarge,      // a body beyond kMaxBodyBytes
    LocalFailure,  // the file could not be written
};

struct DownloadRequest {
    const char* url;            // http or https, without user information
    const char* authorization;  // the value of an Authorization header, or null for none
    DownloadLimits limits;
    HANDLE cancel;  // a manual-reset event that ends the download at once; may be null
};

struct DownloadResult {
    DownloadEnd end;
    uint32_t status;                      // the HTTP status when an answer came, else 0
    std::vector<std::string> challenges;  // every WWW-Authenticate value of a 401
};

// GETs request.url. A 2xx answer's body goes whole into path (created or
// truncated); on every other end path does not exist afterwards, so a caller
// never finds a partial body there.
DownloadResult DownloadBody(const DownloadRequest& request, const char* path);

// The request target (path and query, never the fragment) that a GET of url
// sends, as Digest login signs it; false when url is not an http(s) URL.
bool RequestTarget(const char* url, std::string* target);

// What a WinINet error that ended a request before any answer means.
DownloadEnd EndForError(DWORD error);

// Reads a Content-Length value: decimal digits only, at most 64 bits.
// Returns false for anything else, which means the length is not known.
bool ParseContentLength(const char* text, uint64_t* length);

// Transfers whose WinINet handle has not yet reported its closing: each keeps
// its buffer alive for a call WinINet may still complete. 0 once every
// abandoned request has ended.
size_t PendingTransfers();

}  // namespace torvanel
