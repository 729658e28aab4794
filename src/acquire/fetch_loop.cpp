#include "acquire/fetch_loop.h"

#include <cstring>

#include "acquire/http_fetcher.h"
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

void FetchPass(const char* url) {
    std::strcpy(app.workFilePath, "work.jpg");
    DownloadToFile(url, app.workFilePath);
    // A download that the quit interrupted has nothing left to show.
    if (Quitting()) {
        return;
    }
    LoadImageIntoDisplay(app.workFilePath);
    PresentDisplay();
    // Only a decoded picture fits the window. Claiming windowSized before the
    // fit means a clear by the settings dialog during the fit is never lost:
    // the next pass fits again.
    const SIZE picture = DecodedSize();
    if (picture.cx > 0 && picture.cy > 0 && app.windowSized.exchange(1) == 0) {
        FitWindow(picture);
    }
}

}  // namespace

void FetchLoop() {
    char url[kTextSize];
    for (;;) {
        // A copy per pass: the settings dialog may rewrite the URL meanwhile.
        CopyUrl(url);
        if (url[0] != '\0') {
            FetchPass(url);
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
