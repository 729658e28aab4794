#include "acquire/fetch_loop.h"

#include <cstring>
#include <string>

#include "acquire/window_fit.h"
#include "app/app_state.h"
#include "base/scoped_win.h"
#include "imaging/still_codec.h"
#include "imaging/surfaces.h"

namespace torvanel {

namespace {

bool Quitting() {
    return app.quitRequested.load() == 1;
}

// The size of the picture just decoded, 0 x 0 when there is none.
SIZE DecodedSize() {
    ExclusiveLock lock(app.surfaceLock);
    if (!app.surfacesLive) {
        return SIZE{0, 0};
    }
    return SIZE{app.imageWidth, app.imageHeight};
}

// SetWindowPos waits for the UI thread, so no lock is held here.
void FitWindow(SIZE picture) {
    const FrameMetrics metrics{GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                               GetSystemMetrics(SM_CYCAPTION)};
    const SIZE outer = WindowSizeForPicture(picture.cx, picture.cy, metrics);
    SetWindowPos(app.mainWindow, HWND_NOTOPMOST, 0, 0, outer.cx, outer.cy, SWP_NOMOVE);
}

int32_t LocalSecondOfDay() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
}

void FetchPass(const char* url, CameraLogin& login) {
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
    bool fresh = false;
    if (download.end == DownloadEnd::Body) {
        LoadImageIntoDisplay(part.c_str());
        fresh = DecodedSize().cx > 0;
        if (!fresh || !MoveFileExA(part.c_str(), app.workFilePath, MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileA(part.c_str());
        }
        if (!fresh) {
            outcome = PassOutcome::NotPicture;
        }
    }
    if (!fresh) {
        // The last good picture stays shown, or an earlier run's, at its size.
        LoadImageIntoDisplay(app.workFilePath);
    }
    PresentDisplay();
    app.connection.PassEnded(outcome, download.status, GetTickCount64(), LocalSecondOfDay());

    // Only a decoded picture fits the window. Claiming windowSized before the
    // fit means a clear by the settings dialog during the fit is never lost:
    // the next pass fits again.
    const SIZE picture = DecodedSize();
    if (picture.cx > 0 && picture.cy > 0 && app.windowSized.exchange(1) == 0) {
        FitWindow(picture);
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
    for (;;) {
        // A copy per pass: the settings dialog may rewrite the URL meanwhile.
        CopyUrl(url);
        if (url[0] != '\0') {
            FetchPass(url, login);
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
