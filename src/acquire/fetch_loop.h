// The fetch thread: download, decode, present, fit, pause; again and again.
#pragma once

#include <windows.h>

namespace torvanel {

// The thread procedure; returns 0 once the tool quits.
DWORD WINAPI FetchThread(void* unused);

}  // namespace torvanel
