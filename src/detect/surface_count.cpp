#include "detect/surface_count.h"

#include <windows.h>

#include <algorithm>

#include "detect/change_count.h"

namespace torvanel {

namespace {
// Reads the top `rows` rows of a surface as 32-bit pixels. The header is
// bottom-up because there the first scan line is unambiguously counted from the
// bottom: lines 768 - rows .. 767 are the top rows, whichever way round they
// land in the buffer; the count does not depend on the order.
bool ReadTopRows(const Surface& surface, int32_t rows, std::vector<uint32_t>& bits) {
    if (!surface.dc || !surface.bitmap) {
        return false;
    }
    bits.resize(static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kSurfaceWidth;
    info.bmiHeader.biHeight = kSurfaceHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const int copied =
        GetDIBits(surface.dc, surface.bitmap, static_cast<UINT>(kSurfaceHeight - rows),
                  static_cast<UINT>(rows), bits.data(), &info, DIB_RGB_COLORS);
    return copied == rows;
}
}  // namespace

int32_t SurfaceChangeCounter::Count(const Surface& current, const Surface& previous, int32_t width,
                                    int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const int32_t rows = std::min(height, kSurfaceHeight);
    if (!ReadTopRows(current, rows, currentBits_) || !ReadTopRows(previous, rows, previousBits_)) {
        return -1;
    }
    return CountChangedPixels(currentBits_.data(), previousBits_.data(), kSurfaceWidth, rows, width,
                              height);
}

}  // namespace torvanel
