#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "res/resource.h"
#include "settings/number_text.h"
#include "settings/settings_dialog.h"

namespace torvanel {
namespace {

TEST(NumberFromText, ReadsLikeTheFieldsDo) {
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"500", 500},
        {"  42", 42},  // leading blanks skipped
        {"+7", 7},
        {"-5", -5},
        {"12abc", 12},  // digits up to the first non-digit
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {" - 3", 0},  // a sign must be followed by the digits at once
        {"\t\r\n 9", 9},
        {"+-1", 0},  // one sign only
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},  // beyond the range: saturates
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
        {"\x82\x50", 0},  // a full-width digit is no digit
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, NumberFromText(c.text)) << '"' << c.text << '"';
    }
}

// The CONFIG template's edit fields and check box, built in memory: the unit
// binary carries no resources, and only the identifiers matter to the procedure.
std::vector<WORD> SettingsTemplate() {
    std::vector<WORD> t;
    auto align = [&t] {
        if (t.size() % 2 != 0) {
            t.push_back(0);
        }
    };
    const int edits[] = {IDC_URL,          IDC_WAIT_TIME, IDC_TIMER_SEC, IDC_ERROR_RATE,
                         IDC_CAPTURE_TIME, IDC_FRAME,     IDC_PER_SEC,   IDC_NOISE_LEVEL};
    const WORD count = static_cast<WORD>(std::size(edits) + 1);
    DWORD style = WS_POPUP | WS_CAPTION;
    t.insert(t.end(), {LOWORD(style), HIWORD(style), 0, 0, count, 0, 0, 274, 235, 0, 0, 0});
    auto item = [&](DWORD itemStyle, int id, WORD atom, int y) {
        align();
        t.insert(t.end(), {LOWORD(itemStyle), HIWORD(itemStyle), 0, 0, 80, static_cast<WORD>(y),
                           180, 14, static_cast<WORD>(id), 0xFFFF, atom, 0, 0});
    };
    int y = 0;
    for (int id : edits) {
        item(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, id, 0x0081, y += 16);
    }
    item(WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, IDC_CHECK_FLG, 0x0080, y += 16);
    return t;
}

// A modeless instance of the dialog: the same procedure, driven by messages.
class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kembrisk");
        templ_ = SettingsTemplate();
        dialog_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                             reinterpret_cast<LPCDLGTEMPLATEA>(templ_.data()),
                                             nullptr, SettingsDialogProc, 0);
        ASSERT_NE(nullptr, dialog_);
    }
    void TearDown() override {
        if (dialog_) {
            DestroyWindow(dialog_);
        }
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kembrisk");
    }
    void SetField(int id, const std::string& text) {
        ASSERT_TRUE(SetDlgItemTextA(dialog_, id, text.c_str()));
    }
    void PressOk() { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

    std::vector<WORD> templ_;
    HWND dialog_ = nullptr;
};

std::string FieldText(HWND dialog, int id) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The registry's NoiseLevel as a signed number, or nothing when it is missing.
bool RegistryNoiseLevel(int32_t& value) {
    DWORD raw = 0;
    DWORD size = sizeof raw;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Kembrisk\\torvanel", "NoiseLevel",
                     RRF_RT_REG_DWORD, nullptr, &raw, &size) != ERROR_SUCCESS) {
        return false;
    }
    value = static_cast<int32_t>(raw);
    return true;
}

std::string RegistryUrl() {
    char data[512] = {};
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Kembrisk\\torvanel", "url", RRF_RT_REG_SZ,
                     nullptr, data, &size) != ERROR_SUCCESS) {
        return "<missing>";
    }
    return data;
}

TEST_F(SettingsDialog, UrlIsCutTo254BytesAndTheBufferStaysTerminated) {
    std::memset(app.settings.url, 'x', sizeof app.settings.url);  // a stale last byte shows up
    const std::string typed = "http://127.0.0.1/" + std::string(300, 'u');
    SetField(IDC_URL, typed);
    PressOk();
    EXPECT_EQ(typed.substr(0, 254), std::string(app.settings.url));
    EXPECT_EQ(typed.substr(0, 254), RegistryUrl());
    EXPECT_EQ('x', app.settings.url[kTextSize - 1]) << "the buffer's last byte is never written";
}

TEST_F(SettingsDialog, NoiseLevelIsShownReadAndWrittenLikeTheOtherNumbers) {
    const struct {
        int32_t inForce;
        const char* shown;
        const char* typed;
        int32_t stored;
    } cases[] = {
        {0, "0", "12", 12},
        {-3, "-3", " 16abc", 16},  // blanks skipped, digits up to the first non-digit
        {300, "300", "", 0},       // an empty field stores 0
        {8, "8", "-1", -1},        // no range check: the count treats it as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        app.settings.NoiseLevel = c.inForce;
        SendMessageA(dialog_, WM_INITDIALOG, 0, 0);
        EXPECT_EQ(c.shown, FieldText(dialog_, IDC_NOISE_LEVEL));
        SetField(IDC_NOISE_LEVEL, c.typed);
        PressOk();
        EXPECT_EQ(c.stored, app.settings.NoiseLevel);
        int32_t written = 0;
        ASSERT_TRUE(RegistryNoiseLevel(written));
        EXPECT_EQ(c.stored, written);
    }
}

// The fetch thread copies the URL under urlLock (CopyUrl), so the dialog may
// write the shared buffer only while it holds that lock exclusively. The URL
// field is watched: at the moment it fills a buffer, a shared acquire must fail.
struct UrlWriteSeen {
    WNDPROC original = nullptr;
    bool intoSharedBuffer = false;
    bool lockedOut = true;
} urlWrite;

LRESULT CALLBACK WatchUrlField(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETTEXT && reinterpret_cast<char*>(lParam) == app.settings.url) {
        urlWrite.intoSharedBuffer = true;
        if (TryAcquireSRWLockShared(&app.urlLock)) {
            urlWrite.lockedOut = false;
            ReleaseSRWLockShared(&app.urlLock);
        }
    }
    return CallWindowProcA(urlWrite.original, edit, message, wParam, lParam);
}

TEST_F(SettingsDialog, UrlIsWrittenOnlyUnderItsLock) {
    HWND field = GetDlgItem(dialog_, IDC_URL);
    urlWrite = UrlWriteSeen{};
    urlWrite.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchUrlField)));
    SetField(IDC_URL, "http://127.0.0.1:8080/cam.jpg");
    PressOk();
    SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(urlWrite.original));
    EXPECT_TRUE(urlWrite.intoSharedBuffer);
    EXPECT_TRUE(urlWrite.lockedOut) << "a reader could copy the URL while it is being written";
    char copy[kTextSize];
    CopyUrl(copy);
    EXPECT_STREQ("http://127.0.0.1:8080/cam.jpg", copy);
}

}  // namespace
}  // namespace torvanel
