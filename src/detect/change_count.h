// The change detector's arithmetic: how many changed pixels fire a tick, and
// how many pixels changed between two looks at the picture.
#pragma once

#include <cstdint>

namespace torvanel {

// The number of changed pixels at which a tick fires, for a picture of
// width x height and errorRate per cent: P = width x height x errorRate, formed
// without overflow, times the single-precision 0.01 in double precision,
// truncated toward zero. The factor lies just below 0.01, so 100 x 100 at 30
// gives 2999. A product beyond 32 bits is held at INT32_MAX or INT32_MIN, which
// keeps its meaning: never reached, or always reached.
int32_t ChangeThreshold(int32_t width, int32_t height, int32_t errorRate);

// Pixels as GetDIBits gives them at 32 bits: one word per pixel, rows of
// `stride` pixels, `rows` rows in each buffer, both buffers holding the same
// rows in the same order (row order does not change a count). Counts, over the
// first min(width, stride) pixels of the first min(height, rows) rows, the
// pixels whose red, green or blue byte differs by more than noiseLevel; the
// fourth byte is ignored. A noiseLevel below 0 counts as 0 (any difference), one
// of 255 or more lets no pixel change. Pixels of the picture beyond the buffers
// never count. A width or height of 0 or less counts nothing.
int32_t CountChangedPixels(const uint32_t* current, const uint32_t* previous, int32_t stride,
                           int32_t rows, int32_t width, int32_t height, int32_t noiseLevel);

}  // namespace torvanel
