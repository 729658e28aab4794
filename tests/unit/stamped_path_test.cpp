#include "app/stamped_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace torvanel {
namespace {

struct PathCase {
    StampKind kind;
    const char* workDir;
    StampTime time;
    const char* expected;
};

TEST(StampedPath, FormatsEachKindAndYearField) {
    const PathCase cases[] = {
        {StampKind::Save, "C:\\cam", {2004, 2, 3, 9, 5, 7}, "C:\\cam\\jpg\\save040203090507.jpg"},
        {StampKind::Movie, "C:\\cam", {2004, 2, 3, 9, 5, 7}, "C:\\cam\\avi\\040203090507.avi"},
        {StampKind::Check,
         "C:\\cam",
         {2038, 1, 19, 3, 14, 7},
         "C:\\cam\\jpg\\check380119031407.jpg"},
        // Before 2000 the year field turns negative, as the pattern says.
        {StampKind::Save,
         "C:\\cam",
         {1999, 12, 31, 23, 59, 59},
         "C:\\cam\\jpg\\save-11231235959.jpg"},
        // Past 2038 the name is still formed: the clock is read as a SYSTEMTIME.
        {StampKind::Movie, "D:\\x", {2100, 1, 1, 0, 0, 0}, "D:\\x\\avi\\1000101000000.avi"},
        // The root of a drive keeps its backslash, giving a doubled one.
        {StampKind::Check, "C:\\", {2010, 10, 10, 10, 10, 10}, "C:\\\\jpg\\check101010101010.jpg"},
        {StampKind::Save, "", {2010, 1, 2, 3, 4, 5}, "\\jpg\\save100102030405.jpg"},
    };
    for (const PathCase& c : cases) {
        char out[256];
        ASSERT_TRUE(FormatStampedPath(c.kind, c.workDir, c.time, out, sizeof out)) << c.expected;
        EXPECT_STREQ(c.expected, out);
    }
}

TEST(StampedPath, RefusesAPathLongerThan255Characters) {
    // Fixed parts: 26 characters for Check, 25 for Save, 21 for Movie.
    const struct {
        StampKind kind;
        size_t longestDir;
    } kinds[] = {{StampKind::Check, 229}, {StampKind::Save, 230}, {StampKind::Movie, 234}};
    const StampTime t{2020, 5, 6, 7, 8, 9};
    for (const auto& k : kinds) {
        char out[256];
        std::string dir(k.longestDir, 'd');
        ASSERT_TRUE(FormatStampedPath(k.kind, dir.c_str(), t, out, sizeof out));
        EXPECT_EQ(255u, std::string(out).size());

        dir.push_back('d');
        std::memset(out, 'x', sizeof out);
        EXPECT_FALSE(FormatStampedPath(k.kind, dir.c_str(), t, out, sizeof out));
        EXPECT_EQ('\0', out[0]);
    }
}

TIME_ZONE_INFORMATION ZoneWithDaylight(LONG daylightBias, WORD daylightMonth) {
    TIME_ZONE_INFORMATION z{};
    z.Bias = -60;
    z.DaylightBias = daylightBias;
    z.DaylightDate.wMonth = daylightMonth;
    z.StandardDate.wMonth = daylightMonth ? 10 : 0;
    return z;
}

TEST(StampedPath, DaylightSavingTimeStampsStandardTime) {
    SYSTEMTIME local{};
    local.wYear = 2021;
    local.wMonth = 3;
    local.wDay = 1;
    local.wHour = 0;
    local.wMinute = 30;
    local.wSecond = 15;

    // In force: one hour back, across midnight and the month.
    StampTime t = StampFromLocalTime(local, TIME_ZONE_ID_DAYLIGHT, ZoneWithDaylight(-60, 3));
    EXPECT_EQ(2021, t.year);
    EXPECT_EQ(2, t.month);
    EXPECT_EQ(28, t.day);
    EXPECT_EQ(23, t.hour);
    EXPECT_EQ(30, t.minute);
    EXPECT_EQ(15, t.second);

    // Standard time, no daylight rule, or a zero bias: the clock as it is.
    const struct {
        DWORD id;
        LONG bias;
        WORD month;
    } plain[] = {{TIME_ZONE_ID_STANDARD, -60, 3},
                 {TIME_ZONE_ID_UNKNOWN, -60, 0},
                 {TIME_ZONE_ID_DAYLIGHT, 0, 3},
                 {TIME_ZONE_ID_DAYLIGHT, -60, 0}};
    for (const auto& p : plain) {
        StampTime u = StampFromLocalTime(local, p.id, ZoneWithDaylight(p.bias, p.month));
        EXPECT_EQ(1, u.day);
        EXPECT_EQ(0, u.hour);
    }
}

}  // namespace
}  // namespace torvanel
