#include "app/main_window.h"

namespace torvanel {

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_COMMAND) {
        WORD command = LOWORD(wParam);
        if (command == IDOK || command == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace torvanel
