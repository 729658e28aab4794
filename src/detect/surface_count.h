// Counting changed pixels between two surfaces by reading their bits in bulk.
#pragma once

#include <cstdint>

#include "app/app_state.h"
#include "base/scoped_win.h"

namespace torvanel {

// Copies the width x height rectangle at (0, 0) of both surfaces into memory it
// can read, once each, and counts the pixels whose colours differ: the same
// count as comparing GetPixel of each pixel, including the rule that pixels
// beyond the surfaces never count. Keeps its buffers between calls, so one
// counter serves one thread.
class SurfaceChangeCounter {
public:
    // The count, or -1 when a surface could not be read.
    int32_t Count(const Surface& current, const Surface& previous, int32_t width, int32_t height,
                  int32_t noiseLevel);

private:
    // A 1024 x 768 top-down 32-bit DIB section selected into its own DC. The DC
    // is declared last so it goes first, releasing the selection.
    struct Bits {
        ScopedBitmap dib;
        ScopedMemoryDc dc;
        const uint32_t* pixels = nullptr;
    };
    static bool Read(const Surface& from, int32_t width, int32_t height, Bits& to);

    Bits current_;
    Bits previous_;
};

}  // namespace torvanel
