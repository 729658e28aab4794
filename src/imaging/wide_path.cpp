#include "imaging/wide_path.h"

#include <climits>
#include <cstring>

namespace torvanel {

namespace {

bool IsUtf8(UINT codePage) {
    return codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
}

// The text in codePage; false when a character had no form there. Without
// best fit, a look-alike (a for ā) counts as missing: it names another file.
bool ToCodePage(const std::wstring& wide, UINT codePage, bool exact, std::string* out) {
    out->clear();
    if (wide.empty()) {
        return true;
    }
    if (wide.size() >= static_cast<size_t>(INT_MAX / 4)) {
        return false;
    }
    const int units = static_cast<int>(wide.size());
    // UTF-8 has a form for everything and refuses the flag and the default-char report.
    const bool utf8 = IsUtf8(codePage);
    const DWORD flags = exact && !utf8 ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL usedDefault = FALSE;
    BOOL* report = exact && !utf8 ? &usedDefault : nullptr;
    const int bytes =
        WideCharToMultiByte(codePage, flags, wide.data(), units, nullptr, 0, nullptr, report);
    if (bytes <= 0) {
        return false;
    }
    out->resize(static_cast<size_t>(bytes));
    if (WideCharToMultiByte(codePage, flags, wide.data(), units, &(*out)[0], bytes, nullptr,
                            report) != bytes) {
        out->clear();
        return false;
    }
    return !usedDefault;
}

std::wstring ShortPath(const std::wstring& path) {
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring shortPath(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), &shortPath[0], size);
    if (length == 0 || length >= size) {
        return std::wstring();
    }
    shortPath.resize(length);
    return shortPath;
}

}  // namespace

std::wstring WidePath(const char* path) {
    if (!path) {
        return std::wstring();
    }
    // One UTF-16 unit per byte at most, plus the terminator, always suffices.
    const size_t bytes = std::strlen(path);
    if (bytes >= static_cast<size_t>(INT_MAX)) {
        return std::wstring();
    }
    std::wstring wide(bytes + 1, L'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, path, static_cast<int>(bytes) + 1, &wide[0],
                                          static_cast<int>(bytes) + 1);
    if (units <= 0) {
        return std::wstring();
    }
    wide.resize(static_cast<size_t>(units) - 1);  // drop the terminator the call wrote
    return wide;
}

std::string AnsiPath(const std::wstring& path, UINT codePage) {
    std::string ansi;
    if (ToCodePage(path, codePage, true, &ansi)) {
        return ansi;
    }
    std::string shortAnsi;
    const std::wstring shortPath = ShortPath(path);
    if (!shortPath.empty() && ToCodePage(shortPath, codePage, true, &shortAnsi)) {
        return shortAnsi;
    }
    ToCodePage(path, codePage, false, &ansi);
    return ansi;
}

std::string AnsiCurrentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) {
        return std::string();
    }
    std::wstring dir(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, &dir[0]);
    if (length == 0 || length >= size) {
        return std::string();
    }
    dir.resize(length);
    return AnsiPath(dir);
}

}  // namespace torvanel
