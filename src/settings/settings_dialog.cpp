#include "settings/settings_dialog.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "res/resource.h"
#include "settings/number_text.h"
#include "settings/settings_store.h"

namespace torvanel {

namespace {

// Every number passes through scratchText, in both directions.
void ShowNumber(HWND dialog, int control, int32_t value) {
    wsprintfA(app.scratchText, "%d", value);
    SendDlgItemMessageA(dialog, control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(app.scratchText));
}

int32_t ReadNumber(HWND dialog, int control) {
    app.scratchText[0] = '\0';
    SendDlgItemMessageA(dialog, control, WM_GETTEXT, kTextSize,
                        reinterpret_cast<LPARAM>(app.scratchText));
    app.scratchText[kTextSize - 1] = '\0';
    return NumberFromText(app.scratchText);
}

// Stores the field's number, then writes it: the setting is in force even when
// the registry refuses it.
void AcceptNumber(HWND dialog, int control, std::atomic<int32_t>& setting, const char* name) {
    setting = ReadNumber(dialog, control);
    WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, name, setting.load());
}

void AcceptUrl(HWND dialog) {
    char stored[kTextSize];
    {
        // The fetch thread copies the URL under this lock, so it sees the old
        // text or the new one, never a mix. WM_GETTEXT goes to our own edit
        // control on this thread, so nothing waits while the lock is held.
        ExclusiveLock lock(app.urlLock);
        // 255: at most 254 bytes and the zero, so the buffer's last byte stays 0.
        LRESULT length = SendDlgItemMessageA(dialog, IDC_URL, WM_GETTEXT, kTextSize - 1,
                                             reinterpret_cast<LPARAM>(app.settings.url));
        if (length <= 0) {
            app.settings.url[0] = '\0';
        }
        std::memcpy(stored, app.settings.url, kTextSize);
    }
    stored[kTextSize - 1] = '\0';
    WriteStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url", stored);
}

INT_PTR OnInitDialog(HWND dialog) {
    Settings& s = app.settings;
    SendDlgItemMessageA(dialog, IDC_CHECK_FLG, BM_SETCHECK,
                        s.CheckFlg.load() != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    // This thread is the URL's only writer, so it reads it without the lock.
    SendDlgItemMessageA(dialog, IDC_URL, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.url));
    ShowNumber(dialog, IDC_CAPTURE_TIME, s.CaptureTime);
    ShowNumber(dialog, IDC_FRAME, s.Frame);
    ShowNumber(dialog, IDC_PER_SEC, s.PerSec);
    ShowNumber(dialog, IDC_WAIT_TIME, s.WaitTime);
    ShowNumber(dialog, IDC_TIMER_SEC, s.TimerSec);
    ShowNumber(dialog, IDC_ERROR_RATE, s.ErrorRate);
    ShowNumber(dialog, IDC_NOISE_LEVEL, s.NoiseLevel);
    // No focus is set, and FALSE keeps the dialog manager from giving it to the
    // first tab stop.
    return FALSE;
}

// Read, store and write in a fixed order, one value at a time.
void OnOk(HWND dialog) {
    Settings& s = app.settings;
    AcceptNumber(dialog, IDC_CAPTURE_TIME, s.CaptureTime, "CaptureTime");
    AcceptNumber(dialog, IDC_FRAME, s.Frame, "Frame");
    AcceptNumber(dialog, IDC_PER_SEC, s.PerSec, "PerSec");
    s.CheckFlg =
        SendDlgItemMessageA(dialog, IDC_CHECK_FLG, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "CheckFlg", s.CheckFlg.load());
    AcceptUrl(dialog);
    AcceptNumber(dialog, IDC_WAIT_TIME, s.WaitTime, "WaitTime");
    AcceptNumber(dialog, IDC_TIMER_SEC, s.TimerSec, "TimerSec");
    AcceptNumber(dialog, IDC_ERROR_RATE, s.ErrorRate, "ErrorRate");
    AcceptNumber(dialog, IDC_NOISE_LEVEL, s.NoiseLevel, "NoiseLevel");
    // The fetch loop fits the window to the next picture it loads.
    app.windowSized = 0;
    EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_COMMAND:
            // The notification code in the high word is not looked at.
            switch (LOWORD(wParam)) {
                case IDOK:
                    OnOk(dialog);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace torvanel
