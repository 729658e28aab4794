#include "app/app_state.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/scoped_win.h"

namespace torvanel {

AppState app;

namespace {
// Lives for the process; the record only borrows it.
ScopedHandle quitEventOwner;
}  // namespace

void InitAppState(HWND window) {
    app.mainWindow = window;
    app.quitRequested = 0;
    app.windowSized = 0;
    app.recording = 0;
    app.detectorTicks = 0;

    // A directory of 255 characters or more does not fit: the call then writes
    // nothing and the output paths start at the drive's root.
    GetCurrentDirectoryA(kTextSize - 1, app.workDir);

    std::setlocale(LC_ALL, "Japanese");

    // Both the runtime's copy and the process block, so the help viewer inherits it.
    _putenv("TZ=JST-9");
    SetEnvironmentVariableA("TZ", "JST-9");
    _tzset();

    if (!quitEventOwner) {
        quitEventOwner.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    app.quitEvent = quitEventOwner.Get();
}

void CopyUrl(char (&out)[kTextSize]) {
    SharedLock lock(app.urlLock);
    std::memcpy(out, app.settings.url, kTextSize);
    out[kTextSize - 1] = '\0';
}

bool PauseUnlessQuit(int32_t milliseconds) {
    DWORD wait = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
    if (!app.quitEvent) {
        Sleep(wait);
        return app.quitRequested.load() == 0;
    }
    return WaitForSingleObject(app.quitEvent, wait) == WAIT_TIMEOUT;
}

}  // namespace torvanel
