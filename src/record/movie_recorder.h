// Time-lapse movie recorders, one thread each.
#pragma once

#include <windows.h>

namespace torvanel {

// Runs one recording from start to end on the calling thread.
void RecorderLoop();

// Thread procedure for a recorder: RecorderLoop, then 0.
DWORD WINAPI RecorderThread(void* unused);

// The stop command: every running recorder ends at its next check.
void StopRecording();

}  // namespace torvanel
