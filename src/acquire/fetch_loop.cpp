#include "acquire/fetch_loop.h"

#include <cstring>
#include <string>

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

int32_t LocalSecondOfDay() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
}

// The fit follows the camera: the first picture, the first after the settings
// dialog was accepted, and any picture of another size than the last fitted
// one. A window the user resized stays so while the size stays the same.
void FetchPass(const char* url, CameraLogin& login, PictureSize& fitted) {
    std::strcpy(app.workFilePath, "work.jpg");
    // The body lands beside "work.jpg" and replaces it only once it has
    // decoded, so "work.jpg" always holds the last good picture.
    const std::string part = std::string(app.workFilePath) + ".part";
    const UrlLogin target = SplitUserInfo(url);
    login.Use(target);

    app.connection.PassStarted(GetTickCount64());
    const DownloadResult download = DownloadCamera(target, login, part.c_str(), app.quitEvent);
    PassOutcome outcome = OutcomeForDownload(download.end, download.status);
    // A download that the quit interrupted has nothing left to show.
    if (Quitting() || outcome == PassOutcome::Cancelled) {
        DeleteFileA(part.c_str());
        app.connection.PassEnded(PassOutcome::Cancelled, 0, GetTickCount64(), 0);
        return;
    }
    PictureSize picture{0, 0};
    if (download.end == DownloadEnd::Body) {
        picture = LoadImageIntoDisplay(part.c_str());
        if (picture.width <= 0 ||
            !MoveFileExA(part.c_str(), app.workFilePath, MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileA(part.c_str());
        }
        if (picture.width <= 0) {
            outcome = PassOutcome::NotPicture;
        }
    }
    const bool fresh = picture.width > 0;
    if (!fresh) {
        // The last good picture stays shown, or an earlier run's, at its size.
        picture = LoadImageIntoDisplay(app.workFilePath);
    }
    app.surfaces.PresentDisplay(app.mainWindow);
    app.connection.PassEnded(outcome, download.status, GetTickCount64(), LocalSecondOfDay());
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

DownloadResult DownloadCamera(const UrlLogin& target, CameraLogin& login, const char* partPath,
                              HANDLE cancel) {
    std::string requestTarget;
    RequestTarget(target.url.c_str(), &requestTarget);
    DownloadResult result{};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string authorization = login.Authorization(requestTarget);
        const DownloadRequest request{target.url.c_str(), authorization.c_str(), kCameraLimits,
                                      cancel};
        result = DownloadBody(request, partPath);
        const bool challenged = result.end == DownloadEnd::Status && result.status == 401;
        if (!challenged || attempt > 0 || !login.Learn(result.challenges)) {
            break;
        }
    }
    return result;
}

PassOutcome OutcomeForDownload(DownloadEnd end, uint32_t status) {
    switch (end) {
        case DownloadEnd::Body:
            return PassOutcome::Picture;
        case DownloadEnd::Status:
            if (status == 401) {
                return PassOutcome::Unauthorized;
            }
            if (status == 403) {
                return PassOutcome::Forbidden;
            }
            // No status line that WinINet could read: the answer was no HTTP at all.
            return status >= 100 && status <= 999 ? PassOutcome::HttpError
                                                  : PassOutcome::NotPicture;
        case DownloadEnd::Certificate:
            return PassOutcome::Certificate;
        case DownloadEnd::Stalled:
            return PassOutcome::NoAnswer;
        case DownloadEnd::Cancelled:
            return PassOutcome::Cancelled;
        case DownloadEnd::TooLarge:
        case DownloadEnd::LocalFailure:
            return PassOutcome::NotPicture;
        case DownloadEnd::NoConnection:
        default:
            return PassOutcome::NoConnection;
    }
}

void FetchLoop() {
    char url[kTextSize];
    // Lives with the thread: the challenge learned is answered in later passes.
    CameraLogin login;
    PictureSize fitted{0, 0};
    for (;;) {
        // A copy per pass: the settings dialog may rewrite the URL meanwhile.
        CopyUrl(url);
        if (url[0] != '\0') {
            FetchPass(url, login, fitted);
        } else {
            app.connection.Idle();
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
