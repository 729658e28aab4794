// The main window's caption tells the state of the camera connection. A timer
// on the user-interface thread recomputes it from what the fetch thread
// publishes, so a stalled download can never hold it back.
#pragma once

#include <windows.h>

namespace torvanel {

// Its own timer procedure, so its ticks never reach the window procedure,
// whose WM_TIMER runs the change detector for any timer.
constexpr UINT_PTR kCaptionTimerId = 2;
constexpr UINT kCaptionPeriodMs = 500;

void StartCaptionWatchdog(HWND window);
void StopCaptionWatchdog(HWND window);

// Sets the caption for the connection's state now, when it differs from the
// one shown.
void UpdateCaption(HWND window);

}  // namespace torvanel
