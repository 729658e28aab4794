// The change detector's comparison: a GetPixel scan against the bulk count over
// the same two surfaces, the cost of reading both surfaces' bits alone (the
// floor), and a whole tick. Exits with 1 when the two counts differ.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "bench_util.h"
#include "detect/change_detector.h"
#include "detect/surface_count.h"

using namespace torvanel;

namespace {

struct OwnedSurface {
    ScopedMemoryDc dc;
    ScopedBitmap bitmap;
    Surface View() const { return Surface{dc.Get(), bitmap.Get()}; }
};

BITMAPINFO BitsInfo(int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kSurfaceWidth;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

bool MakeSurface(HDC screen, OwnedSurface& s, const std::vector<uint32_t>& bits) {
    s.dc.Reset(CreateCompatibleDC(screen));
    s.bitmap.Reset(CreateCompatibleBitmap(screen, kSurfaceWidth, kSurfaceHeight));
    if (!s.dc || !s.bitmap || !SelectObject(s.dc.Get(), s.bitmap.Get())) {
        return false;
    }
    BITMAPINFO info = BitsInfo(-kSurfaceHeight);
    return SetDIBits(s.dc.Get(), s.bitmap.Get(), 0, kSurfaceHeight, bits.data(), &info,
                     DIB_RGB_COLORS) == kSurfaceHeight;
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
};

bool MakeDibCopy(HDC screen, DibCopy& c) {
    BITMAPINFO info = BitsInfo(-kSurfaceHeight);
    void* pixels = nullptr;
    c.dib.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    c.dc.Reset(CreateCompatibleDC(screen));
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

}  // namespace

int main() {
    WindowDc screen(nullptr);
    if (!screen) {
        std::printf("no screen DC\n");
        return 2;
    }
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
    if (!MakeSurface(screen.Get(), current, currentBits) ||
        !MakeSurface(screen.Get(), previous, previousBits) ||
        !MakeSurface(screen.Get(), display, currentBits)) {
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
        if (!MakeSurface(screen.Get(), current, currentBits) ||
            !MakeSurface(screen.Get(), previous, previousBits)) {
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
        int32_t bulkCount = counter.Count(cur, prev, s.width, s.height);  // allocates once
        const double bulkMs =
            MedianMs(kBulkRuns, [&] { bulkCount = counter.Count(cur, prev, s.width, s.height); });

        DibCopy copyA, copyB;
        bool read = MakeDibCopy(screen.Get(), copyA) && MakeDibCopy(screen.Get(), copyB);
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
