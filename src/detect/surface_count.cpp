#include "detect/surface_count.h"

#include <algorithm>
#include <utility>

#include "base/dib_info.h"
#include "detect/change_count.h"

namespace torvanel {

bool SurfaceChangeCounter::Reserve(HDC reference, SIZE size, Bits& bits) {
    if (bits.pixels && bits.size.cx >= size.cx && bits.size.cy >= size.cy) {
        return true;
    }
    const BITMAPINFO info = TopDownDibInfo(size.cx, size.cy);
    void* pixels = nullptr;
    ScopedBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    ScopedMemoryDc dc(CreateCompatibleDC(reference));
    if (!dib || !dc || !pixels || !SelectObject(dc.Get(), dib.Get())) {
        return false;
    }
    // The old DC goes before the old bitmap, as in the destructor.
    bits.dc.Reset();
    bits.dib = std::move(dib);
    bits.dc = std::move(dc);
    bits.pixels = static_cast<const uint32_t*>(pixels);
    bits.size = size;
    return true;
}

// A block copy into a top-down DIB section, rather than GetDIBits: the rows
// land in a fixed order with no scan-line numbering to get wrong, and only the
// picture's own width is copied, not the surface's.
bool SurfaceChangeCounter::Copy(HDC from, int32_t width, int32_t height, Bits& to) {
    const int32_t columns = std::min<int32_t>(width, to.size.cx);
    const int32_t rows = std::min<int32_t>(height, to.size.cy);
    if (!BitBlt(to.dc.Get(), 0, 0, columns, rows, from, 0, 0, SRCCOPY)) {
        return false;
    }
    // The copy may be batched; the bits are only valid once it has run.
    GdiFlush();
    return true;
}

bool SurfaceChangeCounter::Read(HDC current, HDC previous, SIZE looks, int32_t width,
                                int32_t height) {
    if (width <= 0 || height <= 0) {
        return true;
    }
    if (!current || !previous || looks.cx <= 0 || looks.cy <= 0) {
        return false;
    }
    return Reserve(current, looks, current_) && Reserve(current, looks, previous_) &&
           Copy(current, width, height, current_) && Copy(previous, width, height, previous_);
}

int32_t SurfaceChangeCounter::Count(int32_t width, int32_t height, int32_t noiseLevel) const {
    if (width <= 0 || height <= 0 || !current_.pixels || !previous_.pixels ||
        current_.size.cx != previous_.size.cx) {
        return 0;
    }
    // Both buffers have the looks' size: pixels beyond them never count.
    return CountChangedPixels(current_.pixels, previous_.pixels, current_.size.cx,
                              std::min(current_.size.cy, previous_.size.cy), width, height,
                              noiseLevel);
}

int32_t SurfaceChangeCounter::Count(HDC current, HDC previous, SIZE looks, int32_t width,
                                    int32_t height, int32_t noiseLevel) {
    if (!Read(current, previous, looks, width, height)) {
        return -1;
    }
    return Count(width, height, noiseLevel);
}

}  // namespace torvanel
