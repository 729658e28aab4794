// The change detector's comparison: a GetPixel scan against the bulk count over
// the same two looks, the cost of reading both looks' bits alone (the floor),
// and a whole tick through the tool's own surfaces. Exits with 1 when the
// counts differ.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "bench_util.h"
#include "detect/change_count.h"
#include "detect/change_detector.h"
#include "detect/surface_count.h"

using namespace torvanel;

namespace {

constexpr SIZE kLooks{3840, 2160};

BITMAPINFO BitsInfo(SIZE size) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A look as the tool makes it: a memory DC over a screen-compatible bitmap.
struct Look {
    ScopedBitmap bitmap;
    ScopedMemoryDc dc;
};

bool MakeLook(HDC screen, Look& look, const std::vector<uint32_t>& bits) {
    look.bitmap.Reset(CreateCompatibleBitmap(screen, kLooks.cx, kLooks.cy));
    look.dc.Reset(CreateCompatibleDC(screen));
    if (!look.dc || !look.bitmap || !SelectObject(look.dc.Get(), look.bitmap.Get())) {
        return false;
    }
    BITMAPINFO info = BitsInfo(kLooks);
    return SetDIBits(look.dc.Get(), look.bitmap.Get(), 0, kLooks.cy, bits.data(), &info,
                     DIB_RGB_COLORS) == kLooks.cy;
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
};

bool MakeDibCopy(HDC screen, DibCopy& c) {
    BITMAPINFO info = BitsInfo(kLooks);
    void* pixels = nullptr;
    c.dib.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    c.dc.Reset(CreateCompatibleDC(screen));
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
    const BITMAPINFO displayInfo = BitsInfo(kLooks);
    app.surfaces.DrawPicture([&](FrameSurfaces::Canvas& canvas) {
        HDC dc = canvas.Prepare(kLooks.cx, kLooks.cy);
        SetDIBitsToDevice(dc, 0, 0, kLooks.cx, kLooks.cy, 0, 0, 0, kLooks.cy, currentBits.data(),
                          &displayInfo, DIB_RGB_COLORS);
        return PictureSize{kLooks.cx, kLooks.cy};
    });
    app.settings.CheckFlg = 1;
    app.settings.ErrorRate = 101;
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
            BITMAPINFO info = BitsInfo(kLooks);
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
        int32_t bulkCount = counter.Count(cur, prev, kLooks, s.width, s.height);  // allocates once
        const double bulkMs = MedianMs(
            s.bulkRuns, [&] { bulkCount = counter.Count(cur, prev, kLooks, s.width, s.height); });

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
    return status;
}
