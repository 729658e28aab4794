// The one process-wide record that every subsystem shares.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "acquire/connection_status.h"
#include "imaging/surfaces.h"

namespace torvanel {

constexpr int kTextSize = 256;

// The nine persisted values, named as their registry values. The numbers are
// atomics because the fetch and recorder threads read them while the settings
// dialog replaces them; each is replaced as one whole word.
struct Settings {
    std::atomic<int32_t> CaptureTime;  // recorder thread reads before each pause
    std::atomic<int32_t> Frame;        // recorder thread reads once at start
    std::atomic<int32_t> PerSec;       // recorder thread reads once at start
    char url[kTextSize];             // UI thread writes under urlLock; fetch thread copies under it
    std::atomic<int32_t> WaitTime;   // fetch thread reads before each pause
    std::atomic<int32_t> TimerSec;   // UI thread only
    std::atomic<int32_t> CheckFlg;   // UI thread only
    std::atomic<int32_t> ErrorRate;  // UI thread only
    std::atomic<int32_t> NoiseLevel;  // UI thread only
};

struct AppState {
    // Written once by the UI thread before any other thread starts.
    HINSTANCE instance;
    HWND mainWindow;
    ULONG_PTR gdiplusToken;

    // Flags: one writer side, polled by the other; atomics so a poll never tears
    // and a store is seen promptly.
    std::atomic<int32_t> quitRequested;  // UI sets 1; fetch loop and recorders poll
    std::atomic<int32_t> windowSized;    // fetch sets 1 after a fit; UI clears
    std::atomic<int32_t> recording;      // recorder sets 1; UI clears
    std::atomic<int32_t> detectorTicks;  // UI thread only

    Settings settings;

    char workDir[kTextSize];       // UI thread, once at creation; read-only afterwards
    char scratchText[kTextSize];   // UI thread only
    char workFilePath[kTextSize];  // fetch thread only

    // The surfaces and the picture size, with their guard: the fetch thread
    // decodes into them, the UI thread paints, detects and saves from them,
    // recorders copy frames out of them.
    FrameSurfaces surfaces;

    SRWLOCK urlLock;

    // Manual-reset event set when the tool quits: ends every worker's pause at once.
    HANDLE quitEvent;

    // The camera connection: the fetch thread publishes each pass, the caption
    // watchdog on the UI thread reads it; it takes its own lock.
    ConnectionStatus connection;
};

extern AppState app;

// Stores the window, clears the flags, captures the working directory, and sets
// the locale and the time-zone rule.
void InitAppState(HWND window);

// A copy of the camera URL taken under its guard, so a download never sees a
// half-written text.
void CopyUrl(char (&out)[kTextSize]);

// Sleeps for the given milliseconds (negative counts as 0) or until the tool
// quits; returns false when it ended because of the quit.
bool PauseUnlessQuit(int32_t milliseconds);

}  // namespace torvanel
