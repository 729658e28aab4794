// The fetch thread: download, decode, present, fit, pause; again and again.
#pragma once

#include <windows.h>

namespace torvanel {

// Passes until the tool quits: each one downloads the camera URL into
// "work.jpg", decodes it into displaySurface, presents it and, while the window
// still waits for its fit, fits the window to a decoded picture.
void FetchLoop();

// The thread procedure: FetchLoop, then 0.
DWORD WINAPI FetchThread(void* unused);

}  // namespace torvanel
