#include "acquire/http_fetcher.h"

#include <cstdio>
#include <string>

#include "base/scoped_win.h"

namespace torvanel {

namespace {

constexpr char kUserAgent[] = "torvanel";
constexpr char kAcceptHeader[] = "Accept: */*\r\n\r\n";
constexpr DWORD kReadSize = 512;
constexpr size_t kWriteBuffer = 1 << 16;

struct InternetTraits {
    static HINTERNET Empty() { return nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using ScopedInternet = Scoped<HINTERNET, InternetTraits>;

struct StreamTraits {
    static FILE* Empty() { return nullptr; }
    static void Close(FILE* f) { std::fclose(f); }
};
using ScopedStream = Scoped<FILE*, StreamTraits>;

// The announced body length, when the server sent a readable one.
bool QueryContentLength(HINTERNET request, uint64_t* length) {
    char text[32] = {};
    DWORD size = sizeof(text);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
        return false;
    }
    text[sizeof(text) - 1] = '\0';
    return ParseContentLength(text, length);
}

// Copies the body into the open stream; false on a failed read or write, or
// when fewer bytes came than announced (WinINet reports a cut-off body as a
// normal end).
bool CopyBody(HINTERNET request, FILE* out) {
    uint64_t announced = 0;
    const bool lengthKnown = QueryContentLength(request, &announced);
    uint64_t received = 0;
    char buffer[kReadSize];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, kReadSize, &got)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if (std::fwrite(buffer, 1, got, out) != got) {
            return false;
        }
        received += got;
    }
    return !lengthKnown || received == announced;
}

}  // namespace

bool ParseContentLength(const char* text, uint64_t* length) {
    if (!text || !*text || !length) {
        return false;
    }
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    *length = value;
    return true;
}

void DownloadToFile(const char* url, const char* path) {
    if (!url || !path) {
        return;
    }
    ScopedInternet internet(
        InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!internet) {
        return;
    }
    CopyUrlToFile(internet.Get(), url, path);
}

void CopyUrlToFile(HINTERNET internetHandle, const char* url, const char* path) {
    if (!url || !path) {
        return;
    }
    ScopedInternet request(InternetOpenUrlA(internetHandle, url, kAcceptHeader,
                                            sizeof(kAcceptHeader) - 1, INTERNET_FLAG_NO_CACHE_WRITE,
                                            0));
    if (!request) {
        return;
    }
    // The body goes beside the file and replaces it only once complete, so a
    // failed download never leaves a half picture where a whole one was.
    const std::string partial = std::string(path) + ".part";
    bool complete = false;
    {
        ScopedStream out(std::fopen(partial.c_str(), "wb"));
        if (!out) {
            return;
        }
        // One write for a camera picture instead of a dozen 4 KiB ones.
        std::setvbuf(out.Get(), nullptr, _IOFBF, kWriteBuffer);
        complete = CopyBody(request.Get(), out.Get());
        if (std::fclose(out.Release()) != 0) {
            complete = false;
        }
    }
    if (!complete || !MoveFileExA(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(partial.c_str());
    }
}

}  // namespace torvanel
