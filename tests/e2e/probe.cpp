// A small helper for the end-to-end tests: reports what only Win32 can tell
// about the tool's window (frame metrics, client rectangle on screen), the
// prefix's code page and fonts, and how the tool's dialog labels fit; and
// resizes the window as a user, or another program, would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

int CALLBACK AddJapaneseFamily(const LOGFONTA* font, const TEXTMETRICA* metrics, DWORD type,
                               LPARAM names) {
    // Scalable only; TMPF_FIXED_PITCH set means a variable pitch; '@' marks the
    // vertical twins.
    if (!(type & RASTER_FONTTYPE) && (metrics->tmPitchAndFamily & TMPF_FIXED_PITCH) &&
        font->lfFaceName[0] != '@') {
        reinterpret_cast<std::set<std::string>*>(names)->insert(font->lfFaceName);
    }
    return 1;
}

// Every proportional TrueType family with Japanese glyphs, one a line.
int ListProportionalJapaneseFonts() {
    HDC screen = GetDC(nullptr);
    LOGFONTA filter{};
    filter.lfCharSet = SHIFTJIS_CHARSET;
    std::set<std::string> names;
    EnumFontFamiliesExA(screen, &filter, AddJapaneseFamily, reinterpret_cast<LPARAM>(&names), 0);
    ReleaseDC(nullptr, screen);
    for (const std::string& name : names) {
        std::printf("%s\n", name.c_str());
    }
    return 0;
}

// The face GDI draws when asked for the named font: the name itself when the
// font or a replacement for it is there, another face otherwise.
int PrintFace(const char* name) {
    LOGFONTA wanted{};
    wanted.lfHeight = -12;
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(wanted.lfFaceName, name, LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&wanted);
    if (!font) {
        return 2;
    }
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    char face[LF_FACESIZE] = {};
    GetTextFaceA(screen, sizeof face, face);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    DeleteObject(font);
    std::printf("%s\n", face);
    return 0;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The width a control leaves for its text. The check box and the gaps around
// group box captions and button faces are approximations of Wine's drawing;
// a static text has its whole client width.
LONG TextRoom(HWND control, LONG clientWidth) {
    char cls[32] = {};
    GetClassNameA(control, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") != 0) {
        return clientWidth;
    }
    const LONG kind = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    switch (kind) {
        case BS_GROUPBOX:
            return clientWidth - 16;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return clientWidth - 17;
        default:
            return clientWidth - 6;
    }
}

struct LabelReport {
    const char* dialog;
    HDC dc;
};

BOOL CALLBACK ReportLabel(HWND control, LPARAM param) {
    const LabelReport& report = *reinterpret_cast<const LabelReport*>(param);
    char cls[32] = {};
    GetClassNameA(control, cls, sizeof cls);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    if (lstrcmpiA(cls, "Edit") == 0 ||
        (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)) {
        return TRUE;
    }
    char text[256] = {};
    GetWindowTextA(control, text, sizeof text);
    if (!text[0]) {
        return TRUE;
    }
    HGDIOBJ old =
        SelectObject(report.dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    DrawTextA(report.dc, text, -1, &need, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(report.dc, old);
    RECT client;
    GetClientRect(control, &client);
    // dialog, control id, width the text needs, width it has, text
    std::printf("%s\t%d\t%ld\t%ld\t%s\n", report.dialog, GetDlgCtrlID(control), need.right,
                TextRoom(control, client.right), text);
    return TRUE;
}

// Builds each named dialog template of a module, hidden, and reports every
// label: the pixels its text needs in the dialog's font and the pixels it has.
int ReportLabels(const char* module, char** dialogs, int count) {
    HMODULE resources = LoadLibraryExA(module, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!resources) {
        return 2;
    }
    int status = 0;
    HDC screen = GetDC(nullptr);
    for (int i = 0; i < count; ++i) {
        HWND dialog = CreateDialogParamA(resources, dialogs[i], nullptr, QuietDialogProc, 0);
        if (!dialog) {
            status = 3;
            continue;
        }
        RECT units{0, 0, 4, 8};  // one average character, one line
        MapDialogRect(dialog, &units);
        RECT client;
        GetClientRect(dialog, &client);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        HGDIOBJ old = SelectObject(screen, font);
        char face[LF_FACESIZE] = {};
        GetTextFaceA(screen, sizeof face, face);
        SelectObject(screen, old);
        // dialog, base units x and y, client width and height, the face drawn
        std::printf("%s\tunits\t%ld\t%ld\t%ld\t%ld\t%s\n", dialogs[i], units.right, units.bottom,
                    client.right, client.bottom, face);
        LabelReport report{dialogs[i], screen};
        EnumChildWindows(dialog, ReportLabel, reinterpret_cast<LPARAM>(&report));
        DestroyWindow(dialog);
    }
    ReleaseDC(nullptr, screen);
    FreeLibrary(resources);
    return status;
}

}  // namespace

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
    if (argc >= 5 && std::strcmp(argv[1], "resize") == 0) {
        // As a user dragging the frame: the window takes this outer size.
        HWND window = FindWindowA(argv[2], nullptr);
        if (!window) {
            return 2;
        }
        return SetWindowPos(window, nullptr, 0, 0, std::atoi(argv[3]), std::atoi(argv[4]),
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)
                   ? 0
                   : 3;
    }
    // Grows the window by another thread's hand and discards what its client
    // area showed: only a paint by the window's own thread brings it back.
    if (argc >= 4 && std::strcmp(argv[1], "grow") == 0) {
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
    if (argc >= 2 && std::strcmp(argv[1], "acp") == 0) {
        std::printf("%u\n", GetACP());
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "fonts") == 0) {
        return ListProportionalJapaneseFonts();
    }
    if (argc >= 3 && std::strcmp(argv[1], "face") == 0) {
        return PrintFace(argv[2]);
    }
    if (argc >= 4 && std::strcmp(argv[1], "labels") == 0) {
        return ReportLabels(argv[2], argv + 3, argc - 3);
    }
    return 1;
}
