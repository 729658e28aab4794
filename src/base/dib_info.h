// The description of a top-down 32-bit DIB: one word a pixel, rows in the order
// the picture runs, the form every bulk read of a surface uses.
#pragma once

#include <windows.h>

namespace torvanel {

inline BITMAPINFO TopDownDibInfo(LONG width, LONG height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: the first row is the top one
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace torvanel
