// The threads the main window starts, and the one way they are ended at quit.
#pragma once

#include <windows.h>

namespace torvanel {

enum class WorkerKind {
    Fetch,     // ends within moments of the quit: every wait of its downloads ends then
    Recorder,  // waited for until its movie file is complete, once it has one
};

// Starts proc(nullptr) on a new thread that the quit path knows about.
// Returns false when the thread could not be started or the tool is quitting.
bool StartWorker(WorkerKind kind, LPTHREAD_START_ROUTINE proc);

// Called by a recorder thread right before it creates its movie file. From then
// on the quit path waits for the thread to complete the file. Returns false once
// the tool is quitting: the recorder then makes no file.
bool BeginRecorderOutput();

// The quit path: sets quitRequested, clears recording, wakes every pause, and
// waits, bounded and answering the threads' window requests, for the workers.
// Runs once; later calls return at once.
void StopWorkers();

// Bounds of that wait, in milliseconds.
constexpr DWORD kFetchQuitWaitMs = 5000;
constexpr DWORD kRecorderQuitWaitMs = 15000;

}  // namespace torvanel
