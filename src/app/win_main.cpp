// The process's way in and out: one main window and its message loop.
#include <windows.h>

#include "app/app_state.h"
#include "app/com_apartment.h"
#include "app/main_window.h"
#include "app/message_loop.h"

namespace torvanel {

ATOM RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSA wc{};
    wc.style = 0;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = DLGWINDOWEXTRA;  // the dialog manager's room in a window made from a template
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "TORVANEL");
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = "TORVANEL";
    return RegisterClassA(&wc);
}

int CreateMainWindow(HINSTANCE instance, int showCommand) {
    app.instance = instance;
    // One instance per desktop: the class name alone marks it.
    if (FindWindowA("TORVANEL", nullptr)) {
        return 0;
    }
    HWND window = CreateDialogParamA(instance, "TORVANEL", nullptr, nullptr, 0);
    if (!window) {
        return 0;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

}  // namespace torvanel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
    // Before any window, and left after the loop: lives for the whole run.
    const torvanel::ComApartment com;
    if (!torvanel::RegisterMainWindowClass(instance)) {
        return 0;
    }
    if (!torvanel::CreateMainWindow(instance, showCommand)) {
        return 0;
    }
    return torvanel::RunMessageLoop();
}
