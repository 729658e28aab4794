// Counting changed pixels between two surfaces by reading their bits in bulk.
#pragma once

#include <cstdint>
#include <vector>

#include "app/app_state.h"

namespace torvanel {

// Reads both surfaces' bits once each and counts the pixels of the
// width x height rectangle at (0, 0) whose colours differ: the same count as
// comparing GetPixel of each pixel, including the rule that pixels beyond the
// surfaces never count. Keeps its buffers between calls, so one counter serves
// one thread.
class SurfaceChangeCounter {
public:
    // The count, or -1 when a surface could not be read.
    int32_t Count(const Surface& current, const Surface& previous, int32_t width, int32_t height);

private:
    std::vector<uint32_t> currentBits_;
    std::vector<uint32_t> previousBits_;
};

}  // namespace torvanel
