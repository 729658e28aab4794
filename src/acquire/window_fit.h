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

// The window's rectangle after a fit: the outer size of WindowSizeForPicture
// held to the work area's size (the largest client area that fits), and the
// window moved only as far as it must to lie wholly inside the work area. An
// empty work area holds nothing back.
constexpr RECT FitWindowToWorkArea(const RECT& window, int32_t width, int32_t height,
                                   const FrameMetrics& m, const RECT& work) {
    const SIZE outer = WindowSizeForPicture(width, height, m);
    const int64_t workW = static_cast<int64_t>(work.right) - work.left;
    const int64_t workH = static_cast<int64_t>(work.bottom) - work.top;
    if (workW <= 0 || workH <= 0) {
        return RECT{window.left, window.top, static_cast<LONG>(window.left + int64_t{outer.cx}),
                    static_cast<LONG>(window.top + int64_t{outer.cy})};
    }
    const int64_t w = outer.cx < workW ? outer.cx : workW;
    const int64_t h = outer.cy < workH ? outer.cy : workH;
    int64_t left = window.left;
    int64_t top = window.top;
    if (left + w > work.right) {
        left = work.right - w;
    }
    if (left < work.left) {
        left = work.left;
    }
    if (top + h > work.bottom) {
        top = work.bottom - h;
    }
    if (top < work.top) {
        top = work.top;
    }
    return RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(left + w),
                static_cast<LONG>(top + h)};
}

}  // namespace torvanel
