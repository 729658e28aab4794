#include "detect/surface_count.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "detect/change_count.h"

namespace torvanel {

// A block copy into a top-down DIB section of the surface's size, rather than
// GetDIBits: the rows land in a fixed order with no scan-line numbering to get
// wrong, and only the picture's own width is copied, not the surface's.
bool SurfaceChangeCounter::Read(const Surface& from, int32_t width, int32_t height, Bits& to) {
    if (!from.dc || !from.bitmap) {
        return false;
    }
    if (!to.pixels) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kSurfaceWidth;
        info.bmiHeader.biHeight = -kSurfaceHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        ScopedBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
        ScopedMemoryDc dc(CreateCompatibleDC(from.dc));
        if (!dib || !dc || !pixels || !SelectObject(dc.Get(), dib.Get())) {
            return false;
        }
        to.dib = std::move(dib);
        to.dc = std::move(dc);
        to.pixels = static_cast<const uint32_t*>(pixels);
    }
    const int32_t columns = std::min(width, kSurfaceWidth);
    const int32_t rows = std::min(height, kSurfaceHeight);
    if (!BitBlt(to.dc.Get(), 0, 0, columns, rows, from.dc, 0, 0, SRCCOPY)) {
        return false;
    }
    // The copy may be batched; the bits are only valid once it has run.
    GdiFlush();
    return true;
}

int32_t SurfaceChangeCounter::Count(const Surface& current, const Surface& previous, int32_t width,
                                    int32_t height, int32_t noiseLevel) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    if (!Read(current, width, height, current_) || !Read(previous, width, height, previous_)) {
        return -1;
    }
    return CountChangedPixels(current_.pixels, previous_.pixels, kSurfaceWidth, kSurfaceHeight,
                              width, height, noiseLevel);
}

}  // namespace torvanel
