// Paths between UTF-16 and the ANSI code page: the form through which the
// A-form calls reach a folder, whatever the code page can spell.
#include "imaging/wide_path.h"

#include <gtest/gtest.h>

#include <string>

namespace torvanel {
namespace {

std::wstring FromCodePage(const std::string& text, UINT codePage) {
    std::wstring wide(text.size() + 1, L'\0');
    const int units =
        MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) - 1 : 0);
    return wide;
}

TEST(AnsiPath, SpellsWhatTheCodePageCanAsItIs) {
    const struct {
        const wchar_t* path;
        UINT codePage;
        const char* expected;
    } cases[] = {
        {L"C:\\cam", 1252, "C:\\cam"},
        {L"C:\\Users\\Jos\u00e9\\cam", 1252, "C:\\Users\\Jos\xe9\\cam"},
        {L"C:\\\u8868\u793a", 932, "C:\\\x95\x5c\x8e\xa6"},  // 表示: its 0x5C is a trail byte
        {L"C:\\Users\\Jos\u00e9\\\u30ab\u30e1\u30e9", 65001,
         "C:\\Users\\Jos\xc3\xa9\\\xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9"},
        {L"", 1252, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, AnsiPath(c.path, c.codePage)) << c.codePage;
    }
}

// A folder with a file inside, made through its UTF-16 name.
class Folder {
public:
    explicit Folder(const std::wstring& name) {
        wchar_t temp[MAX_PATH];
        if (!GetTempPathW(MAX_PATH, temp)) {
            return;
        }
        path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
        made_ = CreateDirectoryW(path_.c_str(), nullptr) != 0;
        HANDLE h = CreateFileW(File().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    ~Folder() {
        DeleteFileW(File().c_str());
        RemoveDirectoryW(path_.c_str());
    }
    bool Made() const { return made_; }
    const std::wstring& Path() const { return path_; }
    std::wstring File() const { return path_ + L"\\inside.txt"; }

private:
    std::wstring path_;
    bool made_ = false;
};

TEST(AnsiPath, FolderTheCodePageCannotSpellIsReachedByItsShortName) {
    const struct {
        const wchar_t* name;
        UINT codePage;
    } cases[] = {
        // A Western Windows has no form for the Japanese letters, a Japanese one
        // none for the accent.
        {L"torvanel-Caf\u00e9 \u30ab\u30e1\u30e9", 1252},
        {L"torvanel-Caf\u00e9 \u30ab\u30e1\u30e9", 932},
        // Best fit would spell it "a", which names another folder.
        {L"torvanel-\u0101", 1252},
    };
    for (const auto& c : cases) {
        const Folder folder(c.name);
        ASSERT_TRUE(folder.Made());
        const std::string ansi = AnsiPath(folder.Path(), c.codePage);
        EXPECT_EQ(std::string::npos, ansi.find('?')) << c.codePage << ": " << ansi;
        // The same folder: the file made through the long name is there.
        const std::wstring back = FromCodePage(ansi, c.codePage) + L"\\inside.txt";
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(back.c_str()))
            << c.codePage << ": " << ansi;
    }
}

TEST(AnsiPath, WithoutAShortNameTheLossyFormIsKept) {
    // A folder that does not exist has no short name: the path comes back as
    // the A-form calls would give it.
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    EXPECT_EQ(AnsiPath(temp, 1252) + "torvanel-missing-???",
              AnsiPath(std::wstring(temp) + L"torvanel-missing-\u30ab\u30e1\u30e9", 1252));
}

}  // namespace
}  // namespace torvanel
