#include "app/main_window.h"

#include <shellapi.h>

#include <cstring>

#include "app/app_state.h"
#include "app/caption_watchdog.h"
#include "app/gdiplus_session.h"
#include "app/stamped_path.h"
#include "app/timer_period.h"
#include "app/workers.h"
#include "acquire/fetch_loop.h"
#include "base/scoped_win.h"
#include "detect/change_detector.h"
#include "imaging/still_codec.h"
#include "record/movie_recorder.h"
#include "res/resource.h"
#include "settings/settings_dialog.h"
#include "settings/settings_store.h"

namespace torvanel {

namespace {

LRESULT OnCreate(HWND window) {
    InitAppState(window);
    StartGdiplus();
    app.surfaces.CreateSurfaces(window);
    LoadSettings();
    PostMessageA(app.mainWindow, WM_BEGIN_CAPTURE, 0, 0);
    return 0;
}

LRESULT OnBeginCapture() {
    // Delivered once; a quit that came first starts nothing.
    if (app.quitRequested.load() != 0) {
        return 0;
    }
    StartWorker(WorkerKind::Fetch, FetchThread);
    SetTimer(app.mainWindow, kDetectorTimerId, DetectorTimerPeriod(app.settings.TimerSec), nullptr);
    StartCaptionWatchdog(app.mainWindow);
    return 0;
}

LRESULT OnContextMenu(LPARAM lParam) {
    POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScopedMenu menu(LoadMenuA(app.instance, "POPUP"));
    if (!menu) {
        return 0;
    }
    HMENU popup = GetSubMenu(menu.Get(), 0);
    ClientToScreen(app.mainWindow, &at);
    TrackPopupMenuEx(popup, TPM_RIGHTBUTTON, at.x, at.y, app.mainWindow, nullptr);
    return 0;
}

// Closing and quitting: StopWorkers sets quitRequested, clears recording and
// waits for the workers (bounded) while the window is still whole; then the
// window is destroyed.
LRESULT Quit() {
    KillTimer(app.mainWindow, kDetectorTimerId);
    StopCaptionWatchdog(app.mainWindow);
    StopWorkers();
    DestroyWindow(app.mainWindow);
    return 0;
}

// What Windows shows while the end of the session waits for a movie file:
// "closing the movie file being recorded".
constexpr wchar_t kFinishingMovies[] = L"録画中の動画ファイルを閉じています";

// While it lives, Windows shows the user why the end of the session waits
// for the tool. No reason: nothing is shown.
class ShutdownBlock {
public:
    ShutdownBlock(HWND window, const wchar_t* reason)
        : window_(reason && ShutdownBlockReasonCreate(window, reason) ? window : nullptr) {}
    ~ShutdownBlock() {
        if (window_) {
            ShutdownBlockReasonDestroy(window_);
        }
    }
    ShutdownBlock(const ShutdownBlock&) = delete;
    ShutdownBlock& operator=(const ShutdownBlock&) = delete;

private:
    HWND window_;
};

// Once this returns the process may be ended at any moment (Wine ends it at
// once), with no WM_CLOSE or WM_DESTROY: every recording finishes its file
// first, as at a quit.
LRESULT OnEndSession(bool ending) {
    if (!ending) {
        return 0;  // another program refused: the session goes on
    }
    KillTimer(app.mainWindow, kDetectorTimerId);
    {
        ShutdownBlock block(app.mainWindow, RecorderOutputRunning() ? kFinishingMovies : nullptr);
        StopWorkers();
    }
    // Should the process outlive the session's end, it closes as after a quit.
    PostMessageA(app.mainWindow, WM_CLOSE, 0, 0);
    return 0;
}

LRESULT OnDestroy() {
    KillTimer(app.mainWindow, kDetectorTimerId);
    StopCaptionWatchdog(app.mainWindow);
    app.surfaces.DestroySurfaces();
    StopGdiplus();
    PostQuitMessage(0);
    return 0;
}

// Copies the picture rectangle onto the paint DC; the rest of the client area
// keeps the class background.
LRESULT OnPaint(HWND window) {
    PaintDc paint(window);
    app.surfaces.Paint(paint.Get());
    return 0;
}

void OnSaveImage() {
    char path[kTextSize];
    if (StampedPath(StampKind::Save, path)) {
        SaveSnapshotJpeg(path);
    }
}

void OnHelp() {
    std::strcpy(app.scratchText, "torvanel.htm");
    ShellExecuteA(app.mainWindow, "open", app.scratchText, nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            DialogBoxParamA(app.instance, "ABOUTDLG", app.mainWindow, AboutDialogProc, 0);
            return 0;
        case IDM_EXIT:
            return Quit();
        case IDM_SETTINGS:
            DialogBoxParamA(app.instance, "Config", app.mainWindow, SettingsDialogProc, 0);
            return 0;
        case IDM_SAVE_IMAGE:
            OnSaveImage();
            return 0;
        case IDM_RECORD_START:
            StartWorker(WorkerKind::Recorder, RecorderThread);
            return 0;
        case IDM_RECORD_STOP:
            StopRecording();
            return 0;
        case IDM_HELP:
            OnHelp();
            return 0;
        default:
            return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            return OnDestroy();
        case WM_PAINT:
            return OnPaint(window);
        case WM_CLOSE:
            return Quit();
        case WM_QUERYENDSESSION:
            return TRUE;  // never refused: the end of the session finishes the files
        case WM_ENDSESSION:
            return OnEndSession(wParam != FALSE);
        case WM_COMMAND:
            return OnCommand(window, wParam, lParam);
        case WM_TIMER:
            ChangeDetector();
            return 0;
        case WM_RBUTTONDOWN:
            return OnContextMenu(lParam);
        case WM_BEGIN_CAPTURE:
            return OnBeginCapture();
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace torvanel
