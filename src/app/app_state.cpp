#include "app/app_state.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/scoped_win.h"
#include "imaging/wide_path.h"

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

    // In the ANSI code page, by its short name where the code page cannot spell
    // it. A directory of 255 characters or more does not fit: workDir then stays
    // empty and the output paths start at the drive's root.
    const std::string dir = AnsiCurrentDirectory();
    if (dir.size() < kTextSize - 1) {
        std::memcpy(app.workDir, dir.c_str(), dir.size() + 1);
    }

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
