// The settings dialog: shows, edits and stores the nine settings.
#pragma once

#include <windows.h>

namespace torvanel {

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace torvanel
