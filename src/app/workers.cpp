#include "app/workers.h"

#include <vector>

#include "app/app_state.h"
#include "base/scoped_win.h"

namespace torvanel {

namespace {
struct Worker {
    ScopedHandle thread;
    DWORD id;
    WorkerKind kind;
    bool mustFinish;  // a recorder that has begun its file
};

// Guards the list and the quitting flag, so a recorder either begins its file
// before the quit path looks, or learns that the tool is quitting.
SRWLOCK workersLock = SRWLOCK_INIT;
std::vector<Worker>* workers = nullptr;  // leaked on purpose: threads may outlive statics
bool quitting = false;

std::vector<Worker>& List() {
    if (!workers) {
        workers = new std::vector<Worker>();
    }
    return *workers;
}

// Waits for the handles until they end or the deadline passes, serving the
// messages other threads send to our windows meanwhile (a fetch thread inside
// SetWindowPos or UpdateWindow waits for this thread to answer).
void WaitServingSentMessages(std::vector<HANDLE> handles, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!handles.empty()) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return;
        }
        DWORD count = static_cast<DWORD>(
            handles.size() < MAXIMUM_WAIT_OBJECTS ? handles.size() : MAXIMUM_WAIT_OBJECTS - 1);
        DWORD rc = MsgWaitForMultipleObjects(count, handles.data(), FALSE,
                                             static_cast<DWORD>(deadline - now), QS_SENDMESSAGE);
        if (rc < WAIT_OBJECT_0 + count) {
            handles.erase(handles.begin() + (rc - WAIT_OBJECT_0));
        } else if (rc == WAIT_OBJECT_0 + count) {
            MSG msg;
            // Only sent messages are served here; posted ones stay queued.
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        } else if (rc != WAIT_TIMEOUT) {
            return;
        }
    }
}
}  // namespace

bool StartWorker(WorkerKind kind, LPTHREAD_START_ROUTINE proc) {
    ExclusiveLock lock(workersLock);
    if (quitting) {
        return false;
    }
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, proc, nullptr, 0, &id);
    if (!h) {
        return false;
    }
    std::vector<Worker>& list = List();
    // Forget threads that have ended, so the list stays short.
    for (size_t i = list.size(); i-- > 0;) {
        if (WaitForSingleObject(list[i].thread.Get(), 0) == WAIT_OBJECT_0) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    list.push_back(Worker{ScopedHandle(h), id, kind, false});
    return true;
}

bool BeginRecorderOutput() {
    ExclusiveLock lock(workersLock);
    if (quitting || app.quitRequested.load() != 0) {
        return false;
    }
    DWORD self = GetCurrentThreadId();
    for (Worker& w : List()) {
        if (w.id == self) {
            w.mustFinish = true;
        }
    }
    return true;
}

void StopWorkers() {
    std::vector<HANDLE> fetch;
    std::vector<HANDLE> recorders;
    {
        ExclusiveLock lock(workersLock);
        if (quitting) {
            return;
        }
        quitting = true;
        app.quitRequested = 1;
        app.recording = 0;
        if (app.quitEvent) {
            SetEvent(app.quitEvent);
        }
        for (Worker& w : List()) {
            if (w.kind == WorkerKind::Recorder && w.mustFinish) {
                recorders.push_back(w.thread.Get());
            } else if (w.kind == WorkerKind::Fetch) {
                fetch.push_back(w.thread.Get());
            }
        }
    }
    // A recorder writing its file finishes within one frame; the fetch thread
    // gives up its download as soon as the quit event is set, and the bound
    // only guards against a decode that never returns.
    WaitServingSentMessages(recorders, kRecorderQuitWaitMs);
    WaitServingSentMessages(fetch, kFetchQuitWaitMs);
}

}  // namespace torvanel
