#include "imaging/wide_path.h"

#include <windows.h>

#include <cstring>

namespace torvanel {

namespace {
constexpr UINT kJapaneseCodePage = 932;
}

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
    const int units = MultiByteToWideChar(kJapaneseCodePage, 0, path, static_cast<int>(bytes) + 1,
                                          &wide[0], static_cast<int>(bytes) + 1);
    if (units <= 0) {
        return std::wstring();
    }
    wide.resize(static_cast<size_t>(units) - 1);  // drop the terminator the call wrote
    return wide;
}

}  // namespace torvanel
