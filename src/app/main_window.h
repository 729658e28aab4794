// The main window: its procedure, its commands and the About box.
#pragma once

#include <windows.h>

namespace torvanel {

// Private message posted at the end of creation: start capture.
constexpr UINT WM_BEGIN_CAPTURE = WM_USER + 38;
constexpr UINT_PTR kDetectorTimerId = 1;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace torvanel
