#include "app/stamped_path.h"

#include <cstdio>

#include "app/app_state.h"

namespace torvanel {

namespace {
constexpr ULONGLONG kTicksPerHour = 36000000000ULL;  // FILETIME counts 100 ns
}  // namespace

bool FormatStampedPath(StampKind kind, const char* workDir, const StampTime& t, char* out,
                       size_t outSize) {
    if (outSize == 0) {
        return false;
    }
    const int y = t.year - 2000;
    int n = -1;
    switch (kind) {
        case StampKind::Check:
            n = std::snprintf(out, outSize, "%s\\jpg\\check%02d%02d%02d%02d%02d%02d.jpg", workDir,
                              y, t.month, t.day, t.hour, t.minute, t.second);
            break;
        case StampKind::Save:
            n = std::snprintf(out, outSize, "%s\\jpg\\save%02d%02d%02d%02d%02d%02d.jpg", workDir, y,
                              t.month, t.day, t.hour, t.minute, t.second);
            break;
        case StampKind::Movie:
            n = std::snprintf(out, outSize, "%s\\avi\\%02d%02d%02d%02d%02d%02d.avi", workDir, y,
                              t.month, t.day, t.hour, t.minute, t.second);
            break;
    }
    if (n < 0 || static_cast<size_t>(n) >= outSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

StampTime StampFromLocalTime(const SYSTEMTIME& local, DWORD zoneId,
                             const TIME_ZONE_INFORMATION& zone) {
    SYSTEMTIME st = local;
    bool daylight =
        zoneId == TIME_ZONE_ID_DAYLIGHT && zone.DaylightDate.wMonth != 0 && zone.DaylightBias != 0;
    if (daylight) {
        FILETIME ft;
        if (SystemTimeToFileTime(&local, &ft)) {
            ULARGE_INTEGER v;
            v.LowPart = ft.dwLowDateTime;
            v.HighPart = ft.dwHighDateTime;
            if (v.QuadPart >= kTicksPerHour) {
                v.QuadPart -= kTicksPerHour;
                ft.dwLowDateTime = v.LowPart;
                ft.dwHighDateTime = v.HighPart;
                FileTimeToSystemTime(&ft, &st);
            }
        }
    }
    return StampTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

StampTime ReadStampClock() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    DWORD id = GetTimeZoneInformation(&zone);
    return StampFromLocalTime(local, id, zone);
}

bool StampedPath(StampKind kind, char (&out)[256]) {
    return FormatStampedPath(kind, app.workDir, ReadStampClock(), out, sizeof out);
}

}  // namespace torvanel
