#include "detect/change_count.h"

#include <algorithm>
#include <cstddef>
#include <limits>

// SSE2 is part of every x86-64 processor; the intrinsics header is the same
// for GCC, Clang and MSVC. Elsewhere the plain rule counts every pixel.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TORVANEL_HAVE_SSE2 1
#endif

namespace torvanel {

namespace {
// The single-precision number nearest to 0.01 (bit pattern 0x3C23D70A), widened
// exactly to double: the threshold is defined by this factor, not by 0.01.
constexpr double kPercentFactor = static_cast<double>(0.01f);

constexpr uint32_t kColourMask = 0x00FFFFFFu;

// One pixel by the rule: some colour byte differs by more than level (0..255).
inline int32_t PixelChanged(uint32_t a, uint32_t b, int level) {
    int32_t changed = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int da = static_cast<int>((a >> shift) & 0xFFu);
        const int db = static_cast<int>((b >> shift) & 0xFFu);
        changed |= (da > db ? da - db : db - da) > level;
    }
    return changed;
}

// Changed pixels among the first `columns` of one row.
int32_t CountRow(const uint32_t* a, const uint32_t* b, int32_t columns, int level) {
    int32_t x = 0;
    int32_t count = 0;
#ifdef TORVANEL_HAVE_SSE2
    // Four pixels at a time. Of the two saturating differences one is always 0,
    // so their OR is the byte-wise distance |a - b|; what that exceeds the level
    // by, again saturating, is non-zero exactly where the rule counts. The
    // fourth byte is compared against 255, which nothing exceeds.
    const uint32_t levelBytes = static_cast<uint32_t>(level) * 0x010101u;
    const __m128i levels = _mm_set1_epi32(static_cast<int>(~kColourMask | levelBytes));
    const __m128i zero = _mm_setzero_si128();
    // Each lane counts the unchanged pixels it saw: at most columns / 4.
    __m128i unchanged = zero;
    for (; x + 4 <= columns; x += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i distance = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
        const __m128i over = _mm_subs_epu8(distance, levels);
        // cmpeq gives -1 in a lane whose pixel stays within the level.
        unchanged = _mm_sub_epi32(unchanged, _mm_cmpeq_epi32(over, zero));
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), unchanged);
    count = x - (lanes[0] + lanes[1] + lanes[2] + lanes[3]);
#endif
    for (; x < columns; ++x) {
        count += PixelChanged(a[x], b[x], level);
    }
    return count;
}
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
                           int32_t rows, int32_t width, int32_t height, int32_t noiseLevel) {
    if (!current || !previous || width <= 0 || height <= 0 || stride <= 0 || rows <= 0) {
        return 0;
    }
    // A byte difference is at most 255, so 255 already lets nothing change.
    const int level = static_cast<int>(std::clamp<int32_t>(noiseLevel, 0, 255));
    const int32_t columns = std::min(width, stride);
    const int32_t lines = std::min(height, rows);
    int64_t count = 0;
    for (int32_t y = 0; y < lines; ++y) {
        const size_t offset = static_cast<size_t>(y) * static_cast<size_t>(stride);
        count += CountRow(current + offset, previous + offset, columns, level);
    }
    return static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
}

}  // namespace torvanel
