// Counting changed pixels between the detector's two looks by reading their
// bits in bulk.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/scoped_win.h"

namespace torvanel {

// Read copies the width x height rectangle at (0, 0) of both looks, as far as
// the looks reach, into memory of its own, once each; Count then counts the
// pixels whose colours differ there: the same count as comparing GetPixel of
// each pixel, including the rule that pixels beyond the looks never count.
// Keeps its buffers between calls (growing with the looks), so one counter
// serves one thread.
class SurfaceChangeCounter {
public:
    // looks: the size of both look surfaces. False when one could not be read.
    bool Read(HDC current, HDC previous, SIZE looks, int32_t width, int32_t height);
    // The count over what Read copied last, at the given noise level.
    int32_t Count(int32_t width, int32_t height, int32_t noiseLevel) const;
    // Both in one: the count, or -1 when a look could not be read.
    int32_t Count(HDC current, HDC previous, SIZE looks, int32_t width, int32_t height,
                  int32_t noiseLevel);

private:
    // A top-down 32-bit DIB section selected into its own DC. The DC is
    // declared last so it goes first, releasing the selection.
    struct Bits {
        ScopedBitmap dib;
        ScopedMemoryDc dc;
        const uint32_t* pixels = nullptr;
        SIZE size{0, 0};
    };
    static bool Reserve(HDC reference, SIZE size, Bits& bits);
    static bool Copy(HDC from, int32_t width, int32_t height, Bits& to);

    Bits current_;
    Bits previous_;
};

}  // namespace torvanel
