// The change detector's comparison: a GetPixel scan against the bulk count over
// the same two looks, the cost of reading both looks' bits alone (the floor),
// and a whole tick through the tool's own surfaces; then the count with a noise
// level against the same floor at camera sizes, beside the plain per-pixel
// rule. Exits with 1 when two counts that must agree differ.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/app_state.h"
#include "base/dib_info.h"
#include "base/scoped_win.h"
#include "bench_util.h"
#include "detect/change_count.h"
#include "detect/change_detector.h"
#include "detect/surface_count.h"

using namespace torvanel;

namespace {

constexpr SIZE kLooks{3840, 2160};

// A look as the tool makes it: a memory DC over a screen-compatible bitmap.
struct Look {
    ScopedBitmap bitmap;
    ScopedMemoryDc dc;
};

bool MakeLook(HDC screen, Look& look, const std::vector<uint32_t>& bits, SIZE size = kLooks) {
    look.bitmap.Reset(CreateCompatibleBitmap(screen, size.cx, size.cy));
    look.dc.Reset(CreateCompatibleDC(screen));
    if (!look.dc || !look.bitmap || !SelectObject(look.dc.Get(), look.bitmap.Get())) {
        return false;
    }
    BITMAPINFO info = TopDownDibInfo(size.cx, size.cy);
    return SetDIBits(look.dc.Get(), look.bitmap.Get(), 0, static_cast<UINT>(size.cy), bits.data(),
                     &info, DIB_RGB_COLORS) == size.cy;
}

int32_t GetPixelScan(HDC current, HDC previous, int32_t width, int32_t height) {
    int32_t count = 0;
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            count += ((GetPixel(current, x, y) ^ GetPixel(previous, x, y)) & 0x00FFFFFF) != 0;
        }
    }
    return count;
}

// The floor: copying both looks' picture rectangles into readable memory
// (top-down DIB sections), as the bulk count does, without comparing.
struct DibCopy {
    ScopedBitmap dib;
    ScopedMemoryDc dc;
    const uint32_t* pixels = nullptr;
};

bool MakeDibCopy(HDC screen, DibCopy& c, SIZE size = kLooks) {
    BITMAPINFO info = TopDownDibInfo(size.cx, size.cy);
    void* pixels = nullptr;
    c.dib.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    c.dc.Reset(CreateCompatibleDC(screen));
    c.pixels = static_cast<const uint32_t*>(pixels);
    return c.dib && c.dc && pixels && SelectObject(c.dc.Get(), c.dib.Get());
}

bool CopyBothBits(HDC a, HDC b, int32_t width, int32_t height, DibCopy& toA, DibCopy& toB) {
    const bool copied = BitBlt(toA.dc.Get(), 0, 0, width, height, a, 0, 0, SRCCOPY) &&
                        BitBlt(toB.dc.Get(), 0, 0, width, height, b, 0, 0, SRCCOPY);
    GdiFlush();
    return copied;
}

template <typename F>
double MedianMs(int runs, F&& body) {
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const double t0 = bench::NowMs();
        body();
        samples.push_back(bench::NowMs() - t0);
    }
    return bench::Median(samples);
}

// The plain rule, one pixel and one byte at a time: what the bulk count must
// equal, and what it is meant to beat.
int32_t CountByPlainRule(const uint32_t* a, const uint32_t* b, size_t pixels, int32_t level) {
    int32_t count = 0;
    for (size_t i = 0; i < pixels; ++i) {
        bool changed = false;
        for (int shift = 0; shift < 24; shift += 8) {
            const int d =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            changed = changed || d > level || -d > level;
        }
        count += changed;
    }
    return count;
}

// The count with a noise level against the floor it cannot go below: copying
// both pictures' bits into readable memory. Both are measured here, side by
// side, on pictures of the bench's own size (the tool's surfaces stop at
// 1024 x 768). 0 when every count agreed, 1 when not, 2 on a set-up failure.
int NoiseLevelTable(HDC screenDc) {
    const struct { int32_t width, height; } sizes[] = {{640, 480}, {1920, 1080}};
    const int32_t levels[] = {0, 16};
    constexpr int kRuns = 100;

    std::printf("\n%-10s %6s %10s %10s %10s %11s %10s %10s\n", "size", "level", "changed",
                "floor ms", "count ms", "count/floor", "kernel ms", "plain ms");
    int status = 0;
    for (const auto& s : sizes) {
        // A camera-like pair: every byte moved by up to 24 levels either way,
        // so a level of 16 keeps some pixels and drops others.
        const size_t pixels = static_cast<size_t>(s.width) * s.height;
        std::vector<uint32_t> previousBits(pixels);
        std::vector<uint32_t> currentBits(pixels);
        uint32_t state = 1080;
        for (size_t i = 0; i < pixels; ++i) {
            uint32_t a = 0;
            uint32_t b = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                state = state * 1664525u + 1013904223u;
                const int base = 24 + static_cast<int>((state >> 8) % 208);
                const int moved = base + static_cast<int>((state >> 20) % 49) - 24;
                a |= static_cast<uint32_t>(base) << shift;
                b |= static_cast<uint32_t>(moved) << shift;
            }
            previousBits[i] = a;
            currentBits[i] = b;
        }
        const SIZE size{s.width, s.height};
        Look current, previous;
        DibCopy toCurrent, toPrevious;
        if (!MakeLook(screenDc, current, currentBits, size) ||
            !MakeLook(screenDc, previous, previousBits, size) ||
            !MakeDibCopy(screenDc, toCurrent, size) || !MakeDibCopy(screenDc, toPrevious, size)) {
            std::printf("cannot make %d x %d pictures\n", s.width, s.height);
            return 2;
        }
        HDC cur = current.dc.Get();
        HDC prev = previous.dc.Get();
        for (int32_t level : levels) {
            bool read = true;
            const double floorMs = MedianMs(kRuns, [&] {
                read = CopyBothBits(cur, prev, s.width, s.height, toCurrent, toPrevious) && read;
            });
            int32_t counted = 0;
            const double countMs = MedianMs(kRuns, [&] {
                read = CopyBothBits(cur, prev, s.width, s.height, toCurrent, toPrevious) && read;
                counted = CountChangedPixels(toCurrent.pixels, toPrevious.pixels, s.width, s.height,
                                             s.width, s.height, level);
            });
            const double kernelMs = MedianMs(kRuns, [&] {
                counted = CountChangedPixels(toCurrent.pixels, toPrevious.pixels, s.width, s.height,
                                             s.width, s.height, level);
            });
            int32_t plain = 0;
            const double plainMs = MedianMs(kRuns / 10, [&] {
                plain = CountByPlainRule(toCurrent.pixels, toPrevious.pixels, pixels, level);
            });
            std::printf("%4dx%-5d %6d %10d %10.3f %10.3f %10.2fx %10.3f %10.3f\n", s.width,
                        s.height, level, counted, floorMs, countMs, countMs / floorMs, kernelMs,
                        plainMs);
            if (counted != plain || !read) {
                std::printf("  MISMATCH: counted %d, the plain rule %d%s\n", counted, plain,
                            read ? "" : ", a copy failed");
                status = 1;
            }
        }
    }
    return status;
}

}  // namespace

int main() {
    WindowDc screen(nullptr);
    if (!screen) {
        std::printf("no screen DC\n");
        return 2;
    }
    // Noise, with about one pixel in five changed in one colour bit.
    const size_t pixels = static_cast<size_t>(kLooks.cx) * kLooks.cy;
    std::vector<uint32_t> previousBits(pixels);
    std::vector<uint32_t> currentBits(pixels);
    uint32_t state = 2024;
    for (size_t i = 0; i < pixels; ++i) {
        state = state * 1664525u + 1013904223u;
        previousBits[i] = state & 0x00FFFFFF;
        currentBits[i] = previousBits[i] ^ ((state >> 28) < 3 ? 1u << ((state >> 24) % 24) : 0u);
    }
    Look current, previous;
    DibCopy copyA, copyB;
    if (!MakeLook(screen.Get(), current, currentBits) ||
        !MakeLook(screen.Get(), previous, previousBits) || !MakeDibCopy(screen.Get(), copyA) ||
        !MakeDibCopy(screen.Get(), copyB)) {
        std::printf("cannot make the looks\n");
        return 2;
    }

    // Real ticks that never fire: detection on, primed, ErrorRate above 100,
    // over the tool's surfaces grown to the largest size.
    app.surfaces.CreateSurfaces(nullptr);
    const BITMAPINFO displayInfo = TopDownDibInfo(kLooks.cx, kLooks.cy);
    app.surfaces.DrawPicture([&](FrameSurfaces::Canvas& canvas) {
        HDC dc = canvas.Prepare(kLooks.cx, kLooks.cy);
        SetDIBitsToDevice(dc, 0, 0, kLooks.cx, kLooks.cy, 0, 0, 0, kLooks.cy, currentBits.data(),
                          &displayInfo, DIB_RGB_COLORS);
        return PictureSize{kLooks.cx, kLooks.cy};
    });
    app.settings.CheckFlg = 1;
    app.settings.ErrorRate = 101;
    app.settings.NoiseLevel = 0;
    app.detectorTicks = 1;
    ChangeDetector();  // grows the looks and the detector's buffers once

    const struct {
        int32_t width, height;
        int scanRuns;  // 0: checked against a plain count of the bits instead
        int bulkRuns;
    } sizes[] = {{320, 240, 9, 200},
                 {640, 480, 5, 200},
                 {1024, 768, 3, 100},
                 {1920, 1080, 0, 50},
                 {3840, 2160, 0, 20}};

    std::printf("%-10s %10s %10s %10s %10s %9s %10s %10s\n", "size", "changed", "scan ms",
                "bulk ms", "floor ms", "scan/bulk", "bulk/floor", "tick ms");
    int status = 0;
    for (const auto& s : sizes) {
        HDC cur = current.dc.Get();
        HDC prev = previous.dc.Get();
        int32_t expected = 0;
        double scanMs = 0;
        if (s.scanRuns > 0) {
            scanMs = MedianMs(s.scanRuns,
                              [&] { expected = GetPixelScan(cur, prev, s.width, s.height); });
        } else {
            // Too slow to scan by pixel: the plain count over the same bits.
            BITMAPINFO info = TopDownDibInfo(kLooks.cx, kLooks.cy);
            std::vector<uint32_t> a(pixels), b(pixels);
            GetDIBits(cur, current.bitmap.Get(), 0, kLooks.cy, a.data(), &info, DIB_RGB_COLORS);
            GetDIBits(prev, previous.bitmap.Get(), 0, kLooks.cy, b.data(), &info, DIB_RGB_COLORS);
            for (int32_t y = 0; y < s.height; ++y) {
                for (int32_t x = 0; x < s.width; ++x) {
                    const size_t i = static_cast<size_t>(y) * kLooks.cx + x;
                    expected += ((a[i] ^ b[i]) & 0x00FFFFFF) != 0;
                }
            }
        }

        SurfaceChangeCounter counter;
        int32_t bulkCount =
            counter.Count(cur, prev, kLooks, s.width, s.height, 0);  // allocates once
        const double bulkMs = MedianMs(s.bulkRuns, [&] {
            bulkCount = counter.Count(cur, prev, kLooks, s.width, s.height, 0);
        });

        bool read = true;
        const double floorMs = MedianMs(s.bulkRuns, [&] {
            read = CopyBothBits(cur, prev, s.width, s.height, copyA, copyB) && read;
        });

        app.surfaces.DrawPicture([&](FrameSurfaces::Canvas& canvas) {
            canvas.Prepare(s.width, s.height);
            return PictureSize{s.width, s.height};
        });
        const double tickMs = MedianMs(s.bulkRuns, [] { ChangeDetector(); });

        std::printf("%4dx%-5d %10d %10.3f %10.4f %10.4f %8.0fx %9.2fx %10.4f\n", s.width, s.height,
                    bulkCount, scanMs, bulkMs, floorMs, scanMs / bulkMs, bulkMs / floorMs, tickMs);
        if (expected != bulkCount || !read) {
            std::printf("  MISMATCH: expected %d, bulk %d%s\n", expected, bulkCount,
                        read ? "" : ", a read failed");
            status = 1;
        }
    }
    std::printf("scan ms is 0 where the bulk count is checked against a plain count of the bits\n");
    app.surfaces.DestroySurfaces();
    const int levels = NoiseLevelTable(screen.Get());
    return status > levels ? status : levels;
}
