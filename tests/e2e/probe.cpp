// A small helper for the end-to-end tests: reports what only Win32 can tell
// about the tool's window (frame metrics, client rectangle on screen), and
// resizes it as another program would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "metrics") == 0) {
        std::printf("%d %d %d\n", GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                    GetSystemMetrics(SM_CYCAPTION));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "client") == 0) {
        HWND window = FindWindowA(argv[2], nullptr);
        if (!window) {
            return 2;
        }
        RECT rc;
        POINT origin{0, 0};
        GetClientRect(window, &rc);
        ClientToScreen(window, &origin);
        RECT outer;
        GetWindowRect(window, &outer);
        std::printf("%ld %ld %ld %ld %ld %ld %ld %ld\n", origin.x, origin.y, rc.right, rc.bottom,
                    outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top);
        return 0;
    }
    // Grows the window by another thread's hand and discards what its client
    // area showed: only a paint by the window's own thread brings it back.
    if (argc >= 4 && std::strcmp(argv[1], "resize") == 0) {
        HWND window = FindWindowA(argv[2], nullptr);
        if (!window) {
            return 2;
        }
        const int grow = std::atoi(argv[3]);
        RECT outer;
        GetWindowRect(window, &outer);
        return SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + grow,
                            outer.bottom - outer.top + grow,
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS)
                   ? 0
                   : 3;
    }
    return 1;
}
