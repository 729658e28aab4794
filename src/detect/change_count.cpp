#include "detect/change_count.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace torvanel {

namespace {
// The single-precision number nearest to 0.01 (bit pattern 0x3C23D70A), widened
// exactly to double: the threshold is defined by this factor, not by 0.01.
constexpr double kPercentFactor = static_cast<double>(0.01f);

constexpr uint32_t kColourMask = 0x00FFFFFFu;
}  // namespace

int32_t ChangeThreshold(int32_t width, int32_t height, int32_t errorRate) {
    constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
    // |width x height| < 2^62, so only the last factor can overflow 64 bits.
    const int64_t area = static_cast<int64_t>(width) * height;
    if (area == 0 || errorRate == 0) {
        return 0;
    }
    const int64_t absArea = area < 0 ? -area : area;
    const int64_t absRate = errorRate < 0 ? -static_cast<int64_t>(errorRate) : errorRate;
    const bool negative = (area < 0) != (errorRate < 0);
    if (absArea > kInt64Max / absRate) {
        // |P| > 2^63: far beyond any 32-bit threshold.
        return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
    // P is exact here; its conversion to double rounds only beyond 2^53, where
    // the threshold is held at the ends anyway.
    const double product = static_cast<double>(area * errorRate) * kPercentFactor;
    if (product >= 2147483648.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (product <= -2147483649.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(product);  // truncates toward zero
}

int32_t CountChangedPixels(const uint32_t* current, const uint32_t* previous, int32_t stride,
                           int32_t rows, int32_t width, int32_t height) {
    if (!current || !previous || width <= 0 || height <= 0 || stride <= 0 || rows <= 0) {
        return 0;
    }
    const int32_t columns = std::min(width, stride);
    const int32_t lines = std::min(height, rows);
    int64_t count = 0;
    for (int32_t y = 0; y < lines; ++y) {
        const uint32_t* a = current + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const uint32_t* b = previous + static_cast<size_t>(y) * static_cast<size_t>(stride);
        // Branch-free, so the compiler can vectorise the row.
        int32_t rowCount = 0;
        for (int32_t x = 0; x < columns; ++x) {
            rowCount += ((a[x] ^ b[x]) & kColourMask) != 0;
        }
        count += rowCount;
    }
    return static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
}

}  // namespace torvanel
