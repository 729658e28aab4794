#include "detect/change_count.h"
#include "detect/surface_count.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/dib_info.h"
#include "base/scoped_win.h"

namespace torvanel {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
// The looks as the window's creation makes them.
constexpr int32_t kSurfaceWidth = 1024;
constexpr int32_t kSurfaceHeight = 768;
constexpr SIZE kLooks{kSurfaceWidth, kSurfaceHeight};

struct Surface {
    HDC dc;
    HBITMAP bitmap;
};
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// The rule written plainly: a pixel changed when its red, green or blue byte
// differs by more than the level, a level below 0 being 0. The fourth byte of a
// 32-bit DIB pixel and of a COLORREF alike is not a colour.
bool ChangedByRule(uint32_t a, uint32_t b, int32_t noiseLevel) {
    const int32_t level = noiseLevel < 0 ? 0 : noiseLevel;
    for (int shift = 0; shift < 24; shift += 8) {
        const int32_t d =
            static_cast<int32_t>((a >> shift) & 0xFF) - static_cast<int32_t>((b >> shift) & 0xFF);
        if (d > level || -d > level) {
            return true;
        }
    }
    return false;
}

constexpr int32_t kNoiseLevels[] = {0, 1, 16, 254, 255, -1};

// Pixel pairs at the edge of the rule for one noise level: pixel i's largest
// colour difference is exactly the level (even i) or one more (odd i), in each
// channel and both directions in turn; the other two channels differ by no more
// than the level, and the fourth byte differs at random. So exactly the odd
// pixels count, except at 255 and above, where no difference is "one more".
class EdgePairs {
public:
    EdgePairs(int32_t noiseLevel, size_t count, uint32_t seed) : state_(seed) {
        const int32_t at = std::clamp(noiseLevel, 0, 255);
        current.resize(count);
        previous.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const int32_t largest = std::min(i % 2 == 0 ? at : at + 1, 255);
            const int channel = static_cast<int>((i / 2) % 3);
            const bool up = (i / 6) % 2 == 0;
            uint32_t a = (Next() & 0xFFu) << 24;
            uint32_t b = (Next() & 0xFFu) << 24;
            for (int c = 0; c < 3; ++c) {
                const int32_t d = c == channel ? largest : static_cast<int32_t>(Next() % (at + 1));
                const int32_t low = static_cast<int32_t>(Next() % static_cast<uint32_t>(256 - d));
                const int32_t high = low + d;
                a |= static_cast<uint32_t>(up ? high : low) << (8 * c);
                b |= static_cast<uint32_t>(up ? low : high) << (8 * c);
            }
            current[i] = a;
            previous[i] = b;
        }
    }

    std::vector<uint32_t> current;
    std::vector<uint32_t> previous;

private:
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    uint32_t state_;
};

TEST(ChangeThreshold, SingleFactorDoubleProductTruncated) {
    const struct {
        int32_t width, height, errorRate, expected;
    } cases[] = {
        // A multiple of 100 lands one below the exact share: the factor is just under 0.01.
        {100, 100, 30, 2999},
        {320, 240, 30, 23039},
        {352, 288, 30, 30412},
        {3, 3, 30, 2},
        {10, 10, 1, 0},
        {1024, 768, 30, 235929},
        {320, 240, 100, 76799},  // every pixel or all but one
        {320, 240, 101, 77567},  // more than the picture holds: never fires
        {10, 10, 101, 100},
        {320, 240, 0, 0},
        {320, 240, -1, -767},
        {320, 240, kMin, kMin},
        {2048, 1536, 30, 943718},  // more than the surfaces' 786,432 pixels
        // P past 2^31: a 32-bit P would wrap negative and fire on every tick.
        {46341, 46341, 1, 21474882},
        {2048, 1536, 1000, 31457279},
        // Above 2^30 the double product rounds up across an integer; an exact
        // rational floor would give 24606582.
        {5, 492131671, 1, 24606583},
        // Beyond 32 bits the threshold keeps its meaning at the ends.
        {1024, 768, kMax, kMax},
        {kMax, kMax, kMax, kMax},
        {kMax, kMax, kMin, kMin},
        {0, 768, 30, 0},
        {-320, 240, 30, -23039},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ChangeThreshold(c.width, c.height, c.errorRate))
            << c.width << " x " << c.height << " at " << c.errorRate;
    }
}

TEST(CountChangedPixels, ComparesColourBytesWithinPictureAndBuffers) {
    // 4 x 3 buffers; current differs from previous at (1,0) in colour, at (2,1)
    // in the fourth byte only, and at (3,2) in colour.
    const uint32_t previous[12] = {0x00102030, 0x00102030, 0x00102030, 0x00102030,
                                   0x00102030, 0x00102030, 0x00102030, 0x00102030,
                                   0x00102030, 0x00102030, 0x00102030, 0x00102030};
    uint32_t current[12];
    std::copy(previous, previous + 12, current);
    current[1] = 0x00102031;
    current[6] = 0xFF102030;
    current[11] = 0x80FFFFFF;
    const struct {
        int32_t width, height, expected;
    } cases[] = {
        {4, 3, 2},       {3, 3, 1},  // column 3 lies outside the picture
        {4, 2, 1},                   // row 2 lies outside the picture
        {9000, 9000, 2},             // a picture beyond the buffers counts only what they hold
        {1, 1, 0},       {0, 3, 0}, {4, 0, 0}, {-4, 3, 0}, {4, -3, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CountChangedPixels(current, previous, 4, 3, c.width, c.height, 0))
            << c.width << " x " << c.height;
    }
}

TEST(CountChangedPixels, NoiseLevelCountsOnlyDifferencesBeyondIt) {
    // Widths around the four-pixel steps leave every possible tail; the stride
    // adds three columns whose pixels differ entirely and must never count.
    const int32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 101};
    constexpr int32_t kRows = 3;
    constexpr int32_t kPadding = 3;
    for (int32_t level : kNoiseLevels) {
        for (int32_t width : widths) {
            const int32_t stride = width + kPadding;
            EdgePairs pairs(level, static_cast<size_t>(stride) * kRows, 77u + width);
            int32_t byRule = 0;
            int32_t odd = 0;
            for (int32_t y = 0; y < kRows; ++y) {
                for (int32_t x = 0; x < stride; ++x) {
                    const size_t i = static_cast<size_t>(y) * stride + x;
                    if (x >= width) {
                        pairs.current[i] = 0x00FFFFFF;
                        pairs.previous[i] = 0xFF000000;
                        continue;
                    }
                    byRule += ChangedByRule(pairs.current[i], pairs.previous[i], level);
                    odd += static_cast<int32_t>(i % 2);
                }
            }
            ASSERT_EQ(level >= 255 ? 0 : odd, byRule) << "the pairs are not at the rule's edge";
            EXPECT_EQ(byRule, CountChangedPixels(pairs.current.data(), pairs.previous.data(),
                                                 stride, kRows, width, kRows, level))
                << "level " << level << ", width " << width;
        }
    }
    // Beyond 255 nothing can change; far below 0 any difference does.
    const uint32_t black = 0x00000000;
    const uint32_t white = 0x00FFFFFF;
    EXPECT_EQ(0, CountChangedPixels(&white, &black, 1, 1, 1, 1, 256));
    EXPECT_EQ(0, CountChangedPixels(&white, &black, 1, 1, 1, 1, kMax));
    EXPECT_EQ(1, CountChangedPixels(&white, &black, 1, 1, 1, 1, kMin));
}

// Two real 1024 x 768 surfaces in the screen's format, as the tool first makes them.
class SurfacePair : public ::testing::Test {
protected:
    void SetUp() override {
        WindowDc screen(nullptr);
        ASSERT_TRUE(screen);
        for (int i = 0; i < 2; ++i) {
            dcs_[i].Reset(CreateCompatibleDC(screen.Get()));
            bitmaps_[i].Reset(CreateCompatibleBitmap(screen.Get(), kSurfaceWidth, kSurfaceHeight));
            ASSERT_TRUE(dcs_[i] && bitmaps_[i]);
            ASSERT_TRUE(SelectObject(dcs_[i].Get(), bitmaps_[i].Get()));
            surfaces_[i] = Surface{dcs_[i].Get(), bitmaps_[i].Get()};
        }
    }
    void TearDown() override {
        // The bitmaps go after their DCs, which releases the selection first.
        for (auto& dc : dcs_) {
            dc.Reset();
        }
    }

    Surface& Current() { return surfaces_[0]; }
    Surface& Previous() { return surfaces_[1]; }

    void FillBoth(COLORREF colour) {
        for (Surface& s : surfaces_) {
            Fill(s, {0, 0, kSurfaceWidth, kSurfaceHeight}, colour);
        }
    }
    static void Fill(Surface& s, RECT r, COLORREF colour) {
        Scoped<HBRUSH, GdiObjectTraits<HBRUSH>> brush(CreateSolidBrush(colour));
        ASSERT_TRUE(brush);
        ASSERT_TRUE(FillRect(s.dc, &r, brush.Get()));
    }

    // Whole-surface pixels, top-down, written or read in one call.
    static bool WriteBits(Surface& s, const std::vector<uint32_t>& bits) {
        BITMAPINFO info = TopDownInfo();
        return SetDIBits(s.dc, s.bitmap, 0, kSurfaceHeight, bits.data(), &info, DIB_RGB_COLORS) ==
               kSurfaceHeight;
    }
    static std::vector<uint32_t> ReadBits(const Surface& s) {
        std::vector<uint32_t> bits(static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight);
        BITMAPINFO info = TopDownInfo();
        EXPECT_EQ(kSurfaceHeight,
                  GetDIBits(s.dc, s.bitmap, 0, kSurfaceHeight, bits.data(), &info, DIB_RGB_COLORS));
        return bits;
    }

    // The comparison as it reads pixel by pixel: pixels beyond a surface read
    // as CLR_INVALID on both sides and so never differ.
    int32_t GetPixelScan(int32_t width, int32_t height, int32_t noiseLevel = 0) {
        int32_t count = 0;
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t y = 0; y < height; ++y) {
                const COLORREF a = GetPixel(Current().dc, x, y);
                const COLORREF b = GetPixel(Previous().dc, x, y);
                count += ChangedByRule(a, b, noiseLevel);
            }
        }
        return count;
    }

private:
    static BITMAPINFO TopDownInfo() { return TopDownDibInfo(kSurfaceWidth, kSurfaceHeight); }

    ScopedMemoryDc dcs_[2];
    ScopedBitmap bitmaps_[2];
    Surface surfaces_[2]{};
};

TEST_F(SurfacePair, BulkCountEqualsGetPixelScan) {
    constexpr COLORREF kBase = RGB(40, 90, 160);
    constexpr COLORREF kMark = RGB(41, 90, 160);  // one unit off in one byte
    const struct {
        const char* name;
        int32_t width, height;
        std::vector<RECT> changes;  // drawn into the current surface only
        int32_t expected;
    } cases[] = {
        // Changes just right of, just below and at the bottom of a small picture
        // stay out; reading the wrong rows of the bitmap would count (5, 767).
        {"small picture",
         100,
         80,
         {{0, 0, 1, 1},
          {99, 79, 100, 80},
          {50, 40, 51, 41},
          {100, 0, 101, 1},
          {0, 80, 1, 81},
          {5, 767, 6, 768},
          {1023, 767, 1024, 768}},
         3},
        {"odd size with a block across its edge",
         333,
         251,
         {{10, 10, 40, 30}, {330, 245, 340, 260}},
         30 * 20 + 3 * 6},
        {"whole surface corners",
         kSurfaceWidth,
         kSurfaceHeight,
         {{0, 0, 1, 1}, {1023, 0, 1024, 1}, {0, 767, 1, 768}, {1023, 767, 1024, 768}},
         4},
        // Pixels beyond the surfaces exist in the picture but never count.
        {"picture larger than the surfaces", 2048, 1536, {{1023, 767, 1024, 768}, {0, 0, 2, 1}}, 3},
        {"no width", 0, 80, {{0, 0, 10, 10}}, 0},
        {"negative height", 100, -1, {{0, 0, 10, 10}}, 0},
    };
    SurfaceChangeCounter counter;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FillBoth(kBase);
        for (RECT r : c.changes) {
            Fill(Current(), r, kMark);
        }
        EXPECT_EQ(c.expected, GetPixelScan(c.width, c.height));
        EXPECT_EQ(c.expected,
                  counter.Count(Current().dc, Previous().dc, kLooks, c.width, c.height, 0));
    }
}

TEST_F(SurfacePair, BulkCountEqualsGetPixelScanOnNoise) {
    // Scattered one-bit changes in each colour byte make a miscount at any row,
    // column or channel show.
    std::vector<uint32_t> previous(static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight);
    std::vector<uint32_t> current(previous.size());
    uint32_t state = 12345;
    for (size_t i = 0; i < previous.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        previous[i] = state & 0x00FFFFFF;
        const uint32_t flip = (state >> 28) < 3 ? 1u << ((state >> 24) % 24) : 0;
        current[i] = previous[i] ^ flip;
    }
    ASSERT_TRUE(WriteBits(Current(), current));
    ASSERT_TRUE(WriteBits(Previous(), previous));
    SurfaceChangeCounter counter;
    const struct {
        int32_t width, height;
    } sizes[] = {{1, 1}, {320, 240}, {333, 251}, {640, 480}, {1024, 768}, {1030, 700}, {700, 800}};
    for (const auto& s : sizes) {
        const int32_t scan = GetPixelScan(s.width, s.height);
        EXPECT_GT(scan, 0);
        EXPECT_EQ(scan, counter.Count(Current().dc, Previous().dc, kLooks, s.width, s.height, 0))
            << s.width << " x " << s.height;
    }
}

TEST_F(SurfacePair, NoiseLevelCountEqualsGetPixelScan) {
    // Sizes with odd widths leave every tail of four pixels, and reach the
    // surfaces' last column and row; one picture is wider than the surfaces.
    const struct {
        int32_t width, height;
    } sizes[] = {{1, 1}, {7, 5}, {333, 251}, {kSurfaceWidth, 3}, {3, kSurfaceHeight}, {1030, 2}};
    SurfaceChangeCounter counter;
    for (int32_t level : kNoiseLevels) {
        SCOPED_TRACE(level);
        EdgePairs pairs(level, static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight, 99u);
        ASSERT_TRUE(WriteBits(Current(), pairs.current));
        ASSERT_TRUE(WriteBits(Previous(), pairs.previous));
        for (const auto& s : sizes) {
            const int32_t scan = GetPixelScan(s.width, s.height, level);
            if (level < 255 && s.width * s.height > 1) {
                EXPECT_GT(scan, 0);
            }
            EXPECT_EQ(scan,
                      counter.Count(Current().dc, Previous().dc, kLooks, s.width, s.height, level))
                << s.width << " x " << s.height;
        }
    }
}

TEST_F(SurfacePair, FourthByteAloneIsNoChange) {
    std::vector<uint32_t> bits(static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight, 0x00336699);
    ASSERT_TRUE(WriteBits(Previous(), bits));
    for (uint32_t& p : bits) {
        p |= 0xFF000000;
    }
    bits[5 * kSurfaceWidth + 7] = 0xFF336698;  // the one real change, at (7, 5)
    ASSERT_TRUE(WriteBits(Current(), bits));
    // The fourth byte must really differ in the bitmaps, or this proves nothing.
    ASSERT_NE(ReadBits(Current())[0] >> 24, ReadBits(Previous())[0] >> 24);

    SurfaceChangeCounter counter;
    EXPECT_EQ(1, GetPixelScan(64, 48));
    EXPECT_EQ(1, counter.Count(Current().dc, Previous().dc, kLooks, 64, 48, 0));
}

TEST_F(SurfacePair, UnreadableSurfaceIsReported) {
    SurfaceChangeCounter counter;
    Surface gone{};
    EXPECT_EQ(-1, counter.Count(gone.dc, Previous().dc, kLooks, 100, 100, 0));
    EXPECT_EQ(-1, counter.Count(Current().dc, gone.dc, kLooks, 100, 100, 0));
}

}  // namespace
}  // namespace torvanel
