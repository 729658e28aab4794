#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "app/workers.h"
#include "base/scoped_win.h"

namespace torvanel {
namespace {

constexpr UINT kPosted = WM_USER + 1;
constexpr UINT kSent = WM_USER + 2;

// What the window saw while the thread that owns it waited.
struct Seen {
    int paints = 0;
    int sent = 0;
    int posted = 0;
    int timers = 0;
    int keys = 0;
};
Seen seen;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PaintDc dc(window);
            ++seen.paints;
            return 0;
        }
        case kSent:
            ++seen.sent;
            return 0;
        case kPosted:
            ++seen.posted;
            return 0;
        case WM_TIMER:
            ++seen.timers;
            return 0;
        case WM_KEYDOWN:
            ++seen.keys;
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

class Window {
public:
    Window() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuitWaitTest";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, "QuitWaitTest", "quit wait", WS_POPUP | WS_VISIBLE, 0, 0, 50,
                                  50, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~Window() {
        if (window_) {
            DestroyWindow(window_);
        }
    }
    HWND Get() const { return window_; }

private:
    HWND window_ = nullptr;
};

struct Job {
    HWND window;
    DWORD delayMs;
};

// Sleeps, then sends the window a message: it ends only once that is answered.
DWORD WINAPI SendAfterDelay(void* param) {
    const Job& job = *static_cast<const Job*>(param);
    Sleep(job.delayMs);
    if (job.window) {
        SendMessageA(job.window, kSent, 0, 0);
    }
    return 0;
}

DWORD WINAPI InvalidateAfterDelay(void* param) {
    const Job& job = *static_cast<const Job*>(param);
    Sleep(job.delayMs);
    InvalidateRect(job.window, nullptr, TRUE);
    return 0;
}

ScopedHandle Start(Job& job) {
    return ScopedHandle(CreateThread(nullptr, 0, SendAfterDelay, &job, 0, nullptr));
}

bool Ended(const ScopedHandle& thread) {
    return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0;
}

TEST(QuitWait, PaintsAndAnswersSentMessagesButTakesNoInputTimerOrPostedMessage) {
    Window window;
    ASSERT_TRUE(window.Get());
    seen = Seen{};
    MSG msg;
    // A paint, a posted message, a key and a timer are all pending as the wait
    // begins, as they may be when the user quits, and the queue has been looked
    // at since, as the message loop does.
    InvalidateRect(window.Get(), nullptr, FALSE);
    PostMessageA(window.Get(), kPosted, 0, 0);
    PostMessageA(window.Get(), WM_KEYDOWN, VK_SPACE, 0);
    SetTimer(window.Get(), 1, 10, nullptr);
    Sleep(50);
    PeekMessageA(&msg, nullptr, WM_APP, WM_APP, PM_NOREMOVE);

    Job quiet{nullptr, 500};
    ScopedHandle sleeper = Start(quiet);
    ASSERT_TRUE(sleeper);
    WaitKeepingWindowsAlive({sleeper.Get()}, 20000);
    EXPECT_EQ(1, seen.paints);
    EXPECT_EQ(0, seen.posted);
    EXPECT_EQ(0, seen.keys);
    EXPECT_EQ(0, seen.timers);

    // A thread that sends the window a message ends only once it is answered;
    // a paint that comes up meanwhile is served too.
    Job send{window.Get(), 500};
    Job invalidate{window.Get(), 100};
    ScopedHandle sender = Start(send);
    ScopedHandle invalidator(
        CreateThread(nullptr, 0, InvalidateAfterDelay, &invalidate, 0, nullptr));
    ASSERT_TRUE(sender && invalidator);
    const ULONGLONG start = GetTickCount64();
    WaitKeepingWindowsAlive({sender.Get()}, 20000);
    EXPECT_TRUE(Ended(sender)) << "the wait ended with the thread, not at its bound";
    EXPECT_LT(GetTickCount64() - start, 15000u);
    EXPECT_EQ(1, seen.sent);
    EXPECT_EQ(2, seen.paints);
    EXPECT_EQ(0, seen.posted + seen.keys + seen.timers);
    WaitForSingleObject(invalidator.Get(), 5000);

    KillTimer(window.Get(), 1);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(QuitWait, EachThreadHasABoundOfItsOwn) {
    // The first ends within its bound; the second after the first's bound would
    // have run out, but within its own, counted from when its turn came.
    Job first{nullptr, 2000};
    Job second{nullptr, 4000};
    ScopedHandle a = Start(first);
    ScopedHandle b = Start(second);
    ASSERT_TRUE(a && b);
    WaitForEachKeepingWindowsAlive({a.Get(), b.Get()}, 3000);
    EXPECT_TRUE(Ended(a));
    EXPECT_TRUE(Ended(b));
}

TEST(QuitWait, AThreadThatNeverEndsIsWaitedForOnlyItsBound) {
    ScopedHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(never);
    const ULONGLONG start = GetTickCount64();
    WaitForEachKeepingWindowsAlive({never.Get(), never.Get()}, 400);
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GE(waited, 700u) << "each has its bound";
    EXPECT_LT(waited, 10000u);
}

}  // namespace
}  // namespace torvanel
