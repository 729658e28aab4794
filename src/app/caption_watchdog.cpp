#include "app/caption_watchdog.h"

#include <string>

#include "acquire/connection_status.h"
#include "app/app_state.h"

namespace torvanel {

namespace {

// The caption on screen; user-interface thread only.
std::wstring& Shown() {
    static std::wstring shown = L"Torvanel";
    return shown;
}

void CALLBACK OnCaptionTimer(HWND window, UINT /*message*/, UINT_PTR /*id*/, DWORD /*time*/) {
    UpdateCaption(window);
}

}  // namespace

void StartCaptionWatchdog(HWND window) {
    SetTimer(window, kCaptionTimerId, kCaptionPeriodMs, OnCaptionTimer);
}

void StopCaptionWatchdog(HWND window) {
    KillTimer(window, kCaptionTimerId);
}

void UpdateCaption(HWND window) {
    const std::wstring caption = CaptionFor(app.connection.Read(), GetTickCount64());
    if (caption == Shown()) {
        return;
    }
    // Straight to the default procedure in its wide form: SetWindowTextW would
    // pass the text through this ANSI window's procedure and lose every
    // character that the ANSI code page lacks.
    if (DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(caption.c_str()))) {
        Shown() = caption;
    }
}

}  // namespace torvanel
