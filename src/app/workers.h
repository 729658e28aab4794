// The threads the main window starts, and the one way they are ended at quit.
#pragma once

#include <windows.h>

#include <vector>

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

// Whether a recorder is writing a movie file that the quit path would wait for.
bool RecorderOutputRunning();

// The quit path: sets quitRequested, clears recording, wakes every pause, and
// waits for the workers, bounded and keeping the windows alive: each recorder
// that has a file for kRecorderQuitWaitMs, then the fetch thread for
// kFetchQuitWaitMs. Runs once; later calls return at once.
void StopWorkers();

// Waits until every handle has ended or timeoutMs has passed. Meanwhile only
// what keeps this thread's windows alive is served: messages other threads send
// (a worker inside SetWindowPos or UpdateWindow waits for them) and paint
// messages; input, timers and other posted messages stay queued.
void WaitKeepingWindowsAlive(std::vector<HANDLE> handles, DWORD timeoutMs);

// The same for each handle in turn, each for at most boundMs from when the wait
// turns to it; one that has already ended costs nothing.
void WaitForEachKeepingWindowsAlive(const std::vector<HANDLE>& handles, DWORD boundMs);

// Bounds of that wait, in milliseconds.
constexpr DWORD kFetchQuitWaitMs = 5000;
constexpr DWORD kRecorderQuitWaitMs = 15000;

}  // namespace torvanel
