// The detector timer's period for a TimerSec setting.
#pragma once

#include <windows.h>

#include <cstdint>

namespace torvanel {

// TimerSec x 1000 ms. A TimerSec of 0 or less ticks once a second, the shortest
// period a whole-second setting can ask for; a product past what the system
// timer takes is held at its longest period (USER_TIMER_MAXIMUM).
constexpr UINT DetectorTimerPeriod(int32_t timerSec) {
    if (timerSec <= 0) {
        return 1000;
    }
    const int64_t ms = static_cast<int64_t>(timerSec) * 1000;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<UINT>(ms);
}

}  // namespace torvanel
