// Time-stamped names of every file the tool writes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace torvanel {

enum class StampKind { Check, Save, Movie };

// The clock reading that names a file: local time, one hour back while
// daylight-saving time is in force, so names never repeat or run backwards
// at a change of season.
struct StampTime {
    int year;  // full year, e.g. 2004
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Builds "<workDir>\jpg\check<yymmddhhmmss>.jpg" and its siblings into out.
// Returns false, with out empty, when the path would not fit in outSize bytes:
// the file is then refused rather than written under a cut name.
bool FormatStampedPath(StampKind kind, const char* workDir, const StampTime& time, char* out,
                       size_t outSize);

// The reading of the clock for a stamp, from the system's local time and
// time-zone report. Covers every year the system clock can show.
StampTime ReadStampClock();

// Moves a SYSTEMTIME-derived reading back by one hour when daylight-saving time
// is in force, as the time-zone report says. Pure, so it can be tested.
StampTime StampFromLocalTime(const SYSTEMTIME& local, DWORD zoneId,
                             const TIME_ZONE_INFORMATION& zone);

// FormatStampedPath with workDir and the clock now; out has 256 bytes.
bool StampedPath(StampKind kind, char (&out)[256]);

}  // namespace torvanel
