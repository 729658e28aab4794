// A long run without the network: 5,000 passes of decoding a camera picture
// into the display surface, presenting it and saving a "check" picture of the
// window, as the fetch loop and the detector do. Prints the process's private
// memory, handles and GDI objects after 100 passes and at the end, and beside
// them the growth of the same loop with nothing in a pass: what the tool keeps
// per pass shows as growth beyond that.
//
// Runs from tools/run_bench.sh, which makes TORVANEL_BENCH_WORK the current
// folder.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/gdiplus_session.h"
#include "bench_util.h"
#include "imaging/gdiplus_scoped.h"
#include "imaging/still_codec.h"
#include "imaging/surfaces.h"

using namespace torvanel;

namespace {

constexpr int kPasses = 5000;
constexpr int kEarlyPasses = 100;

struct Usage {
    size_t privateBytes;
    DWORD handles;
    DWORD gdiObjects;
};

Usage ReadUsage() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    // PagefileUsage is the committed private memory (Wine leaves PrivateUsage 0).
    return Usage{counters.PagefileUsage, bench::HandleCount(), bench::GdiObjects()};
}

struct Soak {
    Usage early;
    Usage late;
    double medianMs;
};

template <typename T>
long long Growth(const Soak& soak, T Usage::*field) {
    return static_cast<long long>(soak.late.*field) - static_cast<long long>(soak.early.*field);
}

// kPasses passes of decode, present and a "check" save, as the fetch loop and
// the detector make them, serving the window between passes; or, with work
// false, the same loop with nothing in a pass.
Soak Run(bool work) {
    Soak soak{};
    std::vector<double> passes;
    passes.reserve(kPasses);
    for (int i = 0; i < kPasses; ++i) {
        const double t0 = bench::NowMs();
        if (work) {
            LoadImageIntoDisplay("soak-camera.jpg");
            app.surfaces.PresentDisplay(app.mainWindow);
            SaveSnapshotJpeg("soak-check.jpg");
        }
        passes.push_back(bench::NowMs() - t0);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (i + 1 == kEarlyPasses) {
            soak.early = ReadUsage();
        }
    }
    soak.late = ReadUsage();
    soak.medianMs = bench::Median(passes);
    return soak;
}

// A camera picture with detail everywhere, encoded once by GDI+ itself.
bool MakePicture(const wchar_t* path) {
    CLSID jpeg;
    GpBitmap* raw = nullptr;
    if (FindEncoderClsid(L"image/jpeg", &jpeg) < 0 ||
        gp::GdipCreateBitmapFromScan0(640, 480, 0, PixelFormat24bppRGB, nullptr, &raw) !=
            Gdiplus::Ok) {
        return false;
    }
    ScopedGpImage bitmap(raw);
    for (UINT y = 0; y < 480; y += 2) {
        for (UINT x = 0; x < 640; x += 2) {
            gp::GdipBitmapSetPixel(
                raw, static_cast<INT>(x), static_cast<INT>(y),
                0xFF000000u | ((x & 0xFF) << 16) | ((y & 0xFF) << 8) | ((x * y) & 0xFF));
        }
    }
    return gp::GdipSaveImageToFile(bitmap.Get(), path, &jpeg, nullptr) == Gdiplus::Ok;
}

}  // namespace

int main() {
    HWND window = bench::MakeBenchWindow(true);
    if (!window) {
        std::printf("no window\n");
        return 2;
    }
    app.mainWindow = window;
    StartGdiplus();
    app.surfaces.CreateSurfaces(window);
    if (!MakePicture(L"soak-camera.jpg")) {
        std::printf("no picture\n");
        return 2;
    }

    // The first readings settle what measuring itself allocates; the empty run
    // then shows what the loop and the readings keep, beside the real one.
    ReadUsage();
    ReadUsage();
    const Soak idle = Run(false);
    const Soak real = Run(true);
    for (const auto& [count, u] :
         {std::make_pair(kEarlyPasses, real.early), std::make_pair(kPasses, real.late)}) {
        std::printf("after %5d passes: private %zu KiB, handles %lu, GDI objects %lu\n", count,
                    u.privateBytes / 1024, u.handles, u.gdiObjects);
    }
    std::printf(
        "growth from pass %d to %d: private %+lld bytes, handles %+lld, GDI objects %+lld\n",
        kEarlyPasses, kPasses, Growth(real, &Usage::privateBytes), Growth(real, &Usage::handles),
        Growth(real, &Usage::gdiObjects));
    std::printf(
        "the same loop with nothing in a pass: private %+lld bytes, handles %+lld, GDI "
        "objects %+lld\n",
        Growth(idle, &Usage::privateBytes), Growth(idle, &Usage::handles),
        Growth(idle, &Usage::gdiObjects));
    std::printf("median pass (decode, present, check save): %.2f ms\n", real.medianMs);

    DeleteFileA("soak-camera.jpg");
    DeleteFileA("soak-check.jpg");
    app.surfaces.DestroySurfaces();
    StopGdiplus();
    DestroyWindow(window);
    return 0;
}
