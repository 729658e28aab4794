// The UI thread's COM apartment and message loop.
#include <gtest/gtest.h>

#include <vector>

#include "app/com_apartment.h"
#include "app/message_loop.h"

namespace torvanel {
namespace {

// Whether the thread is outside any apartment, found by entering the
// multithreaded one: S_OK (left again at once) only when it was outside.
bool OutsideAnyApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) {
        CoUninitialize();
    }
    return hr == S_OK;
}

TEST(ComApartment, EntersTheSingleThreadedApartmentAndLeavesItBalanced) {
    ASSERT_TRUE(OutsideAnyApartment());
    {
        const ComApartment outer;
        EXPECT_TRUE(outer.Entered());
        EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            // S_FALSE: already inside; it still owes its CoUninitialize.
            const ComApartment inner;
            EXPECT_TRUE(inner.Entered());
        }
        EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    EXPECT_TRUE(OutsideAnyApartment());
}

TEST(ComApartment, LeavesAnotherApartmentOfTheThreadAlone) {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        const ComApartment com;  // RPC_E_CHANGED_MODE
        EXPECT_FALSE(com.Entered());
    }
    // Still inside the multithreaded apartment entered above.
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(OutsideAnyApartment());
}

TEST(MessageLoop, EndsWithTheQuitCodeOrZeroAfterAFailure) {
    struct Step {
        BOOL result;
        UINT message;
        WPARAM wParam;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        int expected;
    } cases[] = {
        {"quit", {{TRUE, WM_APP, 42}, {FALSE, WM_QUIT, 0}}, 0},
        {"quit with a code", {{TRUE, WM_APP, 42}, {FALSE, WM_QUIT, 7}}, 7},
        // The buffer still holds the last message; its 42 is no exit code.
        {"failure", {{TRUE, WM_APP, 42}, {-1, WM_APP, 42}}, 0},
        {"failure at once", {{-1, 0, 0}}, 0},
    };
    for (const auto& c : cases) {
        size_t next = 0;
        const int code = PumpMessages([&](MSG* msg) {
            const Step& step = c.steps.at(next++);
            if (step.result != -1) {
                *msg = MSG{};
                msg->message = step.message;
                msg->wParam = step.wParam;
            }
            return step.result;
        });
        EXPECT_EQ(c.expected, code) << c.what;
        EXPECT_EQ(c.steps.size(), next) << c.what;
    }
}

TEST(MessageLoop, RunsUntilThePostedQuit) {
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 42, 0));
    PostQuitMessage(3);
    EXPECT_EQ(3, RunMessageLoop());
}

}  // namespace
}  // namespace torvanel
