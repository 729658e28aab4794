// Timing, memory and window helpers shared by the benchmarks.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "base/scoped_win.h"

namespace bench {

// Paints the tool's surfaces, as the main window does.
inline LRESULT CALLBACK PaintingWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_PAINT) {
        torvanel::PaintDc paint(window);
        torvanel::app.surfaces.Paint(paint.Get());
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A 640 x 480 pop-up that stands for the main window: its DC is the
// reference, and a visible one is painted, so repaints cost what they cost in
// the tool. Null when it cannot be made.
inline HWND MakeBenchWindow(bool visible) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PaintingWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TORVANEL_BENCH";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    RegisterClassA(&wc);
    return CreateWindowExA(0, "TORVANEL_BENCH", "bench", WS_POPUP | (visible ? WS_VISIBLE : 0), 0,
                           0, 640, 480, nullptr, nullptr, wc.hInstance, nullptr);
}

inline double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Median of the samples, in the samples' unit.
inline double Median(std::vector<double> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Live GDI objects of this process. Wine's GetGuiResources answers 0, so
// under Wine the process's own GDI handle table (the PEB's
// GdiSharedHandleTable, one 24-byte entry per handle, a non-zero type for each
// live object) is counted.
inline DWORD GdiObjects() {
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

// Open handles of this process. Wine's GetProcessHandleCount answers 0, so
// under Wine the system's handle list is searched for this process's handles.
inline DWORD HandleCount() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported != 0) {
        return reported;
    }
    struct Entry {
        ULONG ownerPid;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    struct List {
        ULONG count;
        Entry entries[1];
    };
    constexpr SYSTEM_INFORMATION_CLASS kSystemHandleInformation =
        static_cast<SYSTEM_INFORMATION_CLASS>(16);
    using QueryFn = LONG(NTAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) {
        return 0;
    }
    std::vector<unsigned char> buffer(1 << 16);
    for (int tries = 0; tries < 12; ++tries) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* list = reinterpret_cast<const List*>(buffer.data());
            DWORD mine = 0;
            for (ULONG i = 0; i < list->count; ++i) {
                if (list->entries[i].ownerPid == GetCurrentProcessId()) {
                    ++mine;
                }
            }
            return mine;
        }
        buffer.resize(buffer.size() * 2);
    }
    return 0;
}

}  // namespace bench
