// The change detector's comparison: a GetPixel scan against the bulk count over
// the same two surfaces, the cost of reading both surfaces' bits alone (the
// floor), and a whole tick; then the count with a noise level against the same
// floor at camera sizes up to 1920 x 1080, beside the plain per-pixel rule.
// Exits with 1 when two counts that must agree differ.
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

struct OwnedSurface {
    ScopedMemoryDc dc;
    ScopedBitmap bitmap;
    Surface View() const { return Surface{dc.Get(), bitmap.Get()}; }
};

BITMAPINFO BitsInfo(int32_t width, int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A bitmap in the screen's format, as the tool's surfaces are, filled with
// width x height top-down pixels.
bool MakeSurface(HDC screen, OwnedSurface& s, const std::vector<uint32_t>& bits,
                 int32_t width = kSurfaceWidth, int32_t height = kSurfaceHeight) {
    s.dc.Reset(CreateCompatibleDC(screen));
    s.bitmap.Reset(CreateCompatibleBitmap(screen, width, height));
    if (!s.dc || !s.bitmap || !SelectObject(s.dc.Get(), s.bitmap.Get())) {
        return false;
    }
    BITMAPINFO info = BitsInfo(width, -height);
    return SetDIBits(s.dc.Get(), s.bitmap.Get(), 0, static_cast<UINT>(height), bits.data(), &info,
                     DIB_RGB_COLORS) == height;
}

int32_t GetPixelScan(const Surface& current, const Surface& previous, int32_t width,
                     int32_t height) {
    int32_t count = 0;
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            const COLORREF a = GetPixel(current.dc, x, y);
            const COLORREF b = GetPixel(previous.dc, x, y);
            count += ((a ^ b) & 0x00FFFFFF) != 0;
        }
    }
    return count;
}

// The floor: copying both surfaces' picture rectangles into readable memory
// (top-down DIB sections), as the bulk count does, without comparing.
struct DibCopy {
    ScopedBitmap dib;
    ScopedMemoryDc dc;
    const uint32_t* pixels = nullptr;
};

bool MakeDibCopy(HDC screen, DibCopy& c, int32_t width = kSurfaceWidth,
                 int32_t height = kSurfaceHeight) {
    BITMAPINFO info = BitsInfo(width, -height);
    void* pixels = nullptr;
    c.dib.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    c.dc.Reset(CreateCompatibleDC(screen));
    c.pixels = static_cast<const uint32_t*>(pixels);
    return c.dib && c.dc && pixels && SelectObject(c.dc.Get(), c.dib.Get());
}

bool CopyBothBits(const Surface& a, const Surface& b, int32_t width, int32_t height, DibCopy& toA,
                  DibCopy& toB) {
    const bool copied = BitBlt(toA.dc.Get(), 0, 0, width, height, a.dc, 0, 0, SRCCOPY) &&
                        BitBlt(toB.dc.Get(), 0, 0, width, height, b.dc, 0, 0, SRCCOPY);
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

// The tool's own path at NoiseLevel 0: 0 when every count agreed, 1 when not,
// 2 when the surfaces could not be made.
int TickTable(HDC screenDc) {
    // Noise, with about one pixel in five changed in one colour bit.
    const size_t pixels = static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight;
    std::vector<uint32_t> previousBits(pixels);
    std::vector<uint32_t> currentBits(pixels);
    uint32_t state = 2024;
    for (size_t i = 0; i < pixels; ++i) {
        state = state * 1664525u + 1013904223u;
        previousBits[i] = state & 0x00FFFFFF;
        currentBits[i] = previousBits[i] ^ ((state >> 28) < 3 ? 1u << ((state >> 24) % 24) : 0u);
    }
    OwnedSurface current, previous, display;
    if (!MakeSurface(screenDc, current, currentBits) ||
        !MakeSurface(screenDc, previous, previousBits) ||
        !MakeSurface(screenDc, display, currentBits)) {
        std::printf("cannot make the surfaces\n");
        return 2;
    }

    // A real tick that never fires: detection on, primed, ErrorRate above 100.
    app.displaySurface = display.View();
    app.currentSurface = current.View();
    app.previousSurface = previous.View();
    app.surfacesLive = true;
    app.settings.CheckFlg = 1;
    app.settings.ErrorRate = 101;
    app.settings.NoiseLevel = 0;
    app.detectorTicks = 1;

    const struct {
        int32_t width, height;
        int scanRuns;
    } sizes[] = {{320, 240, 9}, {640, 480, 5}, {1024, 768, 3}};
    constexpr int kBulkRuns = 200;

    std::printf("%-10s %10s %10s %10s %10s %8s %10s %10s\n", "size", "changed", "scan ms",
                "bulk ms", "floor ms", "scan/bulk", "bulk/floor", "tick ms");
    int status = 0;
    for (const auto& s : sizes) {
        // The ticks of an earlier size overwrote the looks: restore them.
        if (!MakeSurface(screenDc, current, currentBits) ||
            !MakeSurface(screenDc, previous, previousBits)) {
            std::printf("cannot refill the surfaces\n");
            return 2;
        }
        app.currentSurface = current.View();
        app.previousSurface = previous.View();
        const Surface cur = current.View();
        const Surface prev = previous.View();

        int32_t scanCount = 0;
        const double scanMs =
            MedianMs(s.scanRuns, [&] { scanCount = GetPixelScan(cur, prev, s.width, s.height); });

        SurfaceChangeCounter counter;
        int32_t bulkCount = counter.Count(cur, prev, s.width, s.height, 0);  // allocates once
        const double bulkMs = MedianMs(
            kBulkRuns, [&] { bulkCount = counter.Count(cur, prev, s.width, s.height, 0); });

        DibCopy copyA, copyB;
        bool read = MakeDibCopy(screenDc, copyA) && MakeDibCopy(screenDc, copyB);
        const double floorMs = MedianMs(kBulkRuns, [&] {
            read = CopyBothBits(cur, prev, s.width, s.height, copyA, copyB) && read;
        });

        app.imageWidth = s.width;
        app.imageHeight = s.height;
        ChangeDetector();  // warms the detector's own buffers
        const double tickMs = MedianMs(kBulkRuns, [] { ChangeDetector(); });

        std::printf("%4dx%-5d %10d %10.3f %10.4f %10.4f %8.0fx %9.2fx %10.4f\n", s.width, s.height,
                    bulkCount, scanMs, bulkMs, floorMs, scanMs / bulkMs, bulkMs / floorMs, tickMs);
        if (scanCount != bulkCount || !read) {
            std::printf("  MISMATCH: scan counted %d, bulk %d%s\n", scanCount, bulkCount,
                        read ? "" : ", a read failed");
            status = 1;
        }
    }
    app.surfacesLive = false;
    return status;
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
        OwnedSurface current, previous;
        DibCopy toCurrent, toPrevious;
        if (!MakeSurface(screenDc, current, currentBits, s.width, s.height) ||
            !MakeSurface(screenDc, previous, previousBits, s.width, s.height) ||
            !MakeDibCopy(screenDc, toCurrent, s.width, s.height) ||
            !MakeDibCopy(screenDc, toPrevious, s.width, s.height)) {
            std::printf("cannot make %d x %d pictures\n", s.width, s.height);
            return 2;
        }
        const Surface cur = current.View();
        const Surface prev = previous.View();
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
    const int ticks = TickTable(screen.Get());
    const int levels = NoiseLevelTable(screen.Get());
    return ticks > levels ? ticks : levels;
}
