// The outer window size whose client area holds a picture exactly.
#pragma once

#include <windows.h>

#include <cstdint>

namespace torvanel {

struct FrameMetrics {
    int cxFrame;    // SM_CXFRAME
    int cyFrame;    // SM_CYFRAME
    int cyCaption;  // SM_CYCAPTION
};

// width = picture width + both side frames; height = picture height + caption
// + top and bottom frames. Held at INT_MAX rather than wrapping.
constexpr SIZE WindowSizeForPicture(int32_t width, int32_t height, const FrameMetrics& m) {
    const int64_t w = static_cast<int64_t>(width) + 2 * static_cast<int64_t>(m.cxFrame);
    const int64_t h =
        static_cast<int64_t>(height) + m.cyCaption + 2 * static_cast<int64_t>(m.cyFrame);
    return SIZE{static_cast<LONG>(w > INT32_MAX ? INT32_MAX : w),
                static_cast<LONG>(h > INT32_MAX ? INT32_MAX : h)};
}

}  // namespace torvanel
