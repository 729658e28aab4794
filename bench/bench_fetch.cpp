// Fetch passes per second at WaitTime 0 against the loopback camera, split
// into download, decode-and-draw and present, beside the floors measured in
// the same run: a bare download of the same body into memory and a bare
// decode of the same file. Then memory and GDI objects after 100 and after
// 2,000 passes.
//
// Runs from tools/run_bench.sh, which starts the camera (TORVANEL_CAMERA_PORT)
// and serves TORVANEL_BENCH_WORK, the current folder, under /file/.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "acquire/http_fetcher.h"
#include "app/app_state.h"
#include "app/gdiplus_session.h"
#include "bench_util.h"
#include "imaging/gdiplus_scoped.h"
#include "imaging/still_codec.h"
#include "imaging/surfaces.h"

using namespace torvanel;

namespace {

constexpr int kTimedPasses = 300;
constexpr int kMemoryPasses = 2000;
constexpr int kEarlyPasses = 100;

struct Timings {
    std::vector<double> download, decode, present, pass, bareDownload, bareDecode, smallReads;
};

struct Usage {
    size_t privateBytes;
    size_t workingSet;
    DWORD gdiObjects;
};

// Live GDI objects. Wine's GetGuiResources answers 0, so under Wine the
// process's own GDI handle table (the PEB's GdiSharedHandleTable, one
// 24-byte entry per handle, a non-zero type for each live object) is counted.
DWORD GdiObjects() {
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0) {
        return reported;
    }
    struct Entry {
        UINT64 object;
        USHORT processId;
        USHORT count;
        USHORT unique;
        UCHAR type;
        UCHAR flags;
        UINT64 user;
    };
    static_assert(sizeof(Entry) == 24, "GDI handle entry layout");
    constexpr size_t kPebGdiTableOffset = 0xF8;
    constexpr int kMaxGdiHandles = 16384;
    using QueryFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query ||
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) {
        return 0;
    }
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const Entry* table = *reinterpret_cast<const Entry* const*>(peb + kPebGdiTableOffset);
    if (!table) {
        return 0;
    }
    DWORD live = 0;
    for (int i = 0; i < kMaxGdiHandles; ++i) {
        if (table[i].type != 0) {
            ++live;
        }
    }
    return live;
}

Usage ReadUsage() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    // PagefileUsage is the committed private memory (Wine leaves PrivateUsage 0).
    return Usage{counters.PagefileUsage, counters.WorkingSetSize, GdiObjects()};
}

// The body into memory with the same WinINet calls as the fetcher, no file.
size_t BareDownload(const std::string& url, DWORD readSize) {
    HINTERNET internet = InternetOpenA("torvanel", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet) {
        return 0;
    }
    size_t total = 0;
    HINTERNET request = InternetOpenUrlA(internet, url.c_str(), "Accept: */*\r\n\r\n", 15,
                                         INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) {
        static char body[1 << 20];
        DWORD got = 0;
        while (total + readSize <= sizeof(body) &&
               InternetReadFile(request, body + total, readSize, &got) && got > 0) {
            total += got;
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(internet);
    return total;
}

// Decoding alone: load, read the size, release.
UINT BareDecode(const std::wstring& path) {
    GpImage* raw = nullptr;
    if (gp::GdipLoadImageFromFile(path.c_str(), &raw) != Gdiplus::Ok) {
        return 0;
    }
    ScopedGpImage image(raw);
    UINT width = 0;
    gp::GdipGetImageWidth(image.Get(), &width);
    return width;
}

struct Job {
    std::string url;
    std::wstring floorFile;
    int passes;
    bool withFloors;
    Timings timings;
    Usage early;
};

// One pass as the fetch loop makes it, on a worker thread, so the repaint
// waits for the window's thread as it does in the tool.
DWORD WINAPI RunPasses(void* param) {
    Job& job = *static_cast<Job*>(param);
    for (int i = 0; i < job.passes; ++i) {
        const double t0 = bench::NowMs();
        DownloadToFile(job.url.c_str(), "work.jpg");
        const double t1 = bench::NowMs();
        LoadImageIntoDisplay("work.jpg");
        const double t2 = bench::NowMs();
        app.surfaces.PresentDisplay(app.mainWindow);
        const double t3 = bench::NowMs();
        job.timings.download.push_back(t1 - t0);
        job.timings.decode.push_back(t2 - t1);
        job.timings.present.push_back(t3 - t2);
        job.timings.pass.push_back(t3 - t0);
        if (job.withFloors) {
            const double f0 = bench::NowMs();
            BareDownload(job.url, 1 << 16);
            const double f1 = bench::NowMs();
            BareDecode(job.floorFile);
            const double f2 = bench::NowMs();
            BareDownload(job.url, 512);
            const double f3 = bench::NowMs();
            job.timings.bareDownload.push_back(f1 - f0);
            job.timings.bareDecode.push_back(f2 - f1);
            job.timings.smallReads.push_back(f3 - f2);
        }
        if (i + 1 == kEarlyPasses) {
            job.early = ReadUsage();
        }
    }
    return 0;
}

// Runs the job's passes while this thread serves the window.
bool Run(Job& job) {
    HANDLE worker = CreateThread(nullptr, 0, RunPasses, &job, 0, nullptr);
    if (!worker) {
        return false;
    }
    for (;;) {
        const DWORD rc = MsgWaitForMultipleObjects(1, &worker, FALSE, 600000, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0) {
            break;
        }
        if (rc != WAIT_OBJECT_0 + 1) {
            CloseHandle(worker);
            return false;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    CloseHandle(worker);
    return true;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintDc paint(window);
        app.surfaces.Paint(paint.Get());
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool CopyFrame(const std::string& url, const char* name) {
    DownloadToFile(url.c_str(), name);
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

void Report(const char* label, const Timings& t) {
    const double pass = bench::Median(t.pass);
    const double floor = bench::Median(t.bareDownload) + bench::Median(t.bareDecode);
    std::printf(
        "%s: %.1f passes/s (median pass %.2f ms: download %.2f, decode+draw %.2f, "
        "present %.2f)\n",
        label, 1000.0 / pass, pass, bench::Median(t.download), bench::Median(t.decode),
        bench::Median(t.present));
    std::printf("%s floors: bare download %.2f ms, bare decode %.2f ms; pass / floors = %.2f\n",
                label, bench::Median(t.bareDownload), bench::Median(t.bareDecode), pass / floor);
    std::printf("%s: bare download in 512-byte reads %.2f ms\n", label,
                bench::Median(t.smallReads));
}

}  // namespace

int main() {
    const char* port = std::getenv("TORVANEL_CAMERA_PORT");
    if (!port || std::atoi(port) <= 0) {
        std::fprintf(stderr, "TORVANEL_CAMERA_PORT is not set: run through tools/run_bench.sh\n");
        return 1;
    }
    const std::string base = std::string("http://127.0.0.1:") + port + "/";

    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TORVANEL_BENCH";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "TORVANEL_BENCH", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 640,
                                  480, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) {
        return 1;
    }
    app.mainWindow = window;
    StartGdiplus();
    app.surfaces.CreateSurfaces(window);

    // Fixed bodies, so a pass and its floors move the same bytes.
    // The floors decode a copy of the body the passes fetch.
    if (!CopyFrame(base + "live.jpg", "frame320.jpg") ||
        !CopyFrame(base + "live640.jpg", "frame640.jpg") ||
        !CopyFrame(base + "live/1920x1080.jpg", "frame1080.jpg") ||
        !CopyFrame(base + "live/3840x2160.jpg", "frame2160.jpg") ||
        !CopyFileA("frame320.jpg", "floor320.jpg", FALSE) ||
        !CopyFileA("frame640.jpg", "floor640.jpg", FALSE) ||
        !CopyFileA("frame1080.jpg", "floor1080.jpg", FALSE) ||
        !CopyFileA("frame2160.jpg", "floor2160.jpg", FALSE)) {
        std::fprintf(stderr, "the camera gave no frames\n");
        return 1;
    }

    const struct {
        const char* label;
        const char* file;
        const wchar_t* floor;
        int passes;
    } sizes[] = {
        {"320x240", "frame320.jpg", L"floor320.jpg", kTimedPasses},
        {"640x480", "frame640.jpg", L"floor640.jpg", kTimedPasses},
        {"1920x1080", "frame1080.jpg", L"floor1080.jpg", kTimedPasses / 3},
        {"3840x2160", "frame2160.jpg", L"floor2160.jpg", kTimedPasses / 10},
    };
    // The memory of a long run at HD, within three surfaces' worth plus 30 MB,
    // measured before the larger timed pictures grow the surfaces further.
    const Usage before = ReadUsage();
    std::printf("before the passes: private %zu KiB, GDI objects %lu\n", before.privateBytes / 1024,
                before.gdiObjects);
    Job soak{base + "file/frame1080.jpg", L"", kMemoryPasses, false, {}, {}};
    if (!Run(soak)) {
        return 1;
    }
    const Usage late = ReadUsage();
    for (const auto& [passes, usage] :
         {std::make_pair(kEarlyPasses, soak.early), std::make_pair(kMemoryPasses, late)}) {
        std::printf("after %d passes: private %zu KiB, working set %zu KiB, GDI objects %lu\n",
                    passes, usage.privateBytes / 1024, usage.workingSet / 1024, usage.gdiObjects);
    }
    std::printf("bound at 1920x1080: 3 x (1920 x 1080 x 4) + 30 MB = %u KiB\n",
                (3u * 1920u * 1080u * 4u + 30u * 1024u * 1024u) / 1024u);

    for (const auto& s : sizes) {
        Job job{base + "file/" + s.file, s.floor, s.passes, true, {}, {}};
        if (!Run(job)) {
            return 1;
        }
        Report(s.label, job.timings);
    }

    app.surfaces.DestroySurfaces();
    StopGdiplus();
    DestroyWindow(window);
    return 0;
}
