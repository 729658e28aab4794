#include "app/timer_period.h"

#include <gtest/gtest.h>

namespace torvanel {
namespace {

TEST(DetectorTimerPeriod, SecondsToMillisecondsWithSaneEnds) {
    const struct {
        int32_t timerSec;
        UINT expected;
    } cases[] = {
        {1, 1000},
        {5, 5000},
        {2147483, 2147483000u},  // the largest product that fits
        {2147484, 0x7FFFFFFFu},  // overflows 32 bits: held at the longest period
        {INT32_MAX, 0x7FFFFFFFu},
        {0, 1000},  // would be a busy timer: once a second instead
        {-1, 1000},
        {INT32_MIN, 1000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, DetectorTimerPeriod(c.timerSec)) << c.timerSec;
    }
}

}  // namespace
}  // namespace torvanel
