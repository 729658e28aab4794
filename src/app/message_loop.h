// The UI thread's message loop.
#pragma once

#include <windows.h>

namespace torvanel {

// Fetches with get (GetMessageA's contract: > 0 a message, 0 WM_QUIT, -1 a
// failure), translates and dispatches until WM_QUIT or a failure. Returns the
// quit code; after a failure 0, since the buffer then still holds the last
// message dispatched, not a quit code.
template <typename GetMessageFn>
int PumpMessages(GetMessageFn get) {
    MSG msg{};
    BOOL got;
    while ((got = get(&msg)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : 0;
}

inline int RunMessageLoop() {
    return PumpMessages([](MSG* msg) { return GetMessageA(msg, nullptr, 0, 0); });
}

}  // namespace torvanel
