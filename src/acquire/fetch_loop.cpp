#include "acquire/fetch_loop.h"

#include <cstring>

#include "acquire/http_fetcher.h"
#include "acquire/window_fit.h"
#include "app/app_state.h"
#include "base/scoped_win.h"
#include "imaging/still_codec.h"

namespace torvanel {

namespace {

bool Quitting() {
    return app.quitRequested.load() == 1;
}

// SetWindowPos waits for the UI thread, so no lock is held here. The client
// area takes the picture's size, but the window never outgrows the work area
// of its monitor; where it would reach past it, it moves in.
void FitWindow(PictureSize picture) {
    const FrameMetrics metrics{GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                               GetSystemMetrics(SM_CYCAPTION)};
    RECT window{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const bool placed =
        GetWindowRect(app.mainWindow, &window) && !IsIconic(app.mainWindow) &&
        GetMonitorInfoA(MonitorFromWindow(app.mainWindow, MONITOR_DEFAULTTONEAREST), &monitor);
    if (!placed) {
        const SIZE outer = WindowSizeForPicture(picture.width, picture.height, metrics);
        SetWindowPos(app.mainWindow, HWND_NOTOPMOST, 0, 0, outer.cx, outer.cy, SWP_NOMOVE);
        return;
    }
    const RECT fitted =
        FitWindowToWorkArea(window, picture.width, picture.height, metrics, monitor.rcWork);
    const bool moved = fitted.left != window.left || fitted.top != window.top;
    SetWindowPos(app.mainWindow, HWND_NOTOPMOST, fitted.left, fitted.top,
                 fitted.right - fitted.left, fitted.bottom - fitted.top, moved ? 0 : SWP_NOMOVE);
}

// The fit follows the camera: the first picture, the first after the settings
// dialog was accepted, and any picture of another size than the last fitted
// one. A window the user resized stays so while the size stays the same.
void FetchPass(const char* url, PictureSize& fitted) {
    std::strcpy(app.workFilePath, "work.jpg");
    DownloadToFile(url, app.workFilePath);
    // A download that the quit interrupted has nothing left to show.
    if (Quitting()) {
        return;
    }
    const PictureSize picture = LoadImageIntoDisplay(app.workFilePath);
    app.surfaces.PresentDisplay(app.mainWindow);
    if (picture.width <= 0 || picture.height <= 0) {
        return;  // only a decoded picture fits the window
    }
    // Claiming windowSized before the fit means a clear by the settings dialog
    // during the fit is never lost: the next pass fits again.
    const bool claimed = app.windowSized.exchange(1) == 0;
    if (claimed || picture != fitted) {
        FitWindow(picture);
        fitted = picture;
    }
}

}  // namespace

void FetchLoop() {
    char url[kTextSize];
    PictureSize fitted{0, 0};
    for (;;) {
        // A copy per pass: the settings dialog may rewrite the URL meanwhile.
        CopyUrl(url);
        if (url[0] != '\0') {
            FetchPass(url, fitted);
        }
        if (Quitting()) {
            return;
        }
        // Negative waits count as 0; the pause ends at once when the tool quits.
        if (!PauseUnlessQuit(app.settings.WaitTime.load())) {
            return;
        }
    }
}

DWORD WINAPI FetchThread(void* /*unused*/) {
    FetchLoop();
    return 0;
}

}  // namespace torvanel
