// The still-image codec against the real GDI+ and GDI: decoding into the
// display surface, JPEG snapshots of the client area, encoder look-up, and
// code page 932 paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/app_state.h"
#include "app/gdiplus_session.h"
#include "imaging/gdiplus_scoped.h"
#include "imaging/still_codec.h"
#include "imaging/surfaces.h"

namespace torvanel {
namespace {

constexpr COLORREF kRed = RGB(230, 20, 20);
constexpr COLORREF kBlue = RGB(20, 40, 220);
constexpr COLORREF kGreen = RGB(30, 200, 60);

// One window with live surfaces and GDI+ for the whole binary, as the main
// window's creation sets them up.
class ImagingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, window_);
        app.mainWindow = window_;
        StartGdiplus();
        ASSERT_NE(0u, app.gdiplusToken);
        CreateSurfaces();
        ASSERT_TRUE(app.surfacesLive);

        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        dir_ = std::string(temp) + "torvanel-imaging-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    }
    static void TearDownTestSuite() {
        DestroySurfaces();
        StopGdiplus();
        DestroyWindow(window_);
        app.mainWindow = nullptr;
        // The folders hold only what the tests made.
        std::string command = "cmd /c rmdir /s /q \"" + dir_ + "\"";
        std::system(command.c_str());
    }

    static std::string Path(const char* name) { return dir_ + "\\" + name; }
    static std::wstring Wide(const std::string& ansi) {
        return std::wstring(ansi.begin(), ansi.end());  // the test folder is ASCII
    }

    // A solid picture written by GDI+ itself, in the given format.
    static void MakePicture(const std::wstring& path, int w, int h, COLORREF colour,
                            const wchar_t* mime = L"image/png") {
        GpBitmap* raw = nullptr;
        ASSERT_EQ(Gdiplus::Ok,
                  gp::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppARGB, nullptr, &raw));
        ScopedGpImage bitmap(raw);
        GpGraphics* g = nullptr;
        ASSERT_EQ(Gdiplus::Ok, gp::GdipGetImageGraphicsContext(bitmap.Get(), &g));
        ScopedGpGraphics graphics(g);
        const Gdiplus::ARGB argb =
            0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        ASSERT_EQ(Gdiplus::Ok, gp::GdipGraphicsClear(graphics.Get(), argb));
        CLSID clsid;
        ASSERT_GE(FindEncoderClsid(mime, &clsid), 0);
        ASSERT_EQ(Gdiplus::Ok,
                  gp::GdipSaveImageToFile(bitmap.Get(), path.c_str(), &clsid, nullptr));
    }

    static COLORREF DisplayPixel(int x, int y) { return GetPixel(app.displaySurface.dc, x, y); }
    static SIZE PictureSize() { return SIZE{app.imageWidth, app.imageHeight}; }

    static void SetClientSize(int w, int h) {
        ASSERT_TRUE(SetWindowPos(window_, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER));
        RECT r;
        GetClientRect(window_, &r);
        ASSERT_EQ(w, r.right);
        ASSERT_EQ(h, r.bottom);
    }

    static HWND window_;
    static std::string dir_;
};

HWND ImagingTest::window_ = nullptr;
std::string ImagingTest::dir_;

// A decoded file, read back through GDI+: its size and pixels.
class Decoded {
public:
    explicit Decoded(const std::wstring& path) {
        GpImage* raw = nullptr;
        if (gp::GdipLoadImageFromFile(path.c_str(), &raw) == Gdiplus::Ok) {
            image_.Reset(raw);
            gp::GdipGetImageWidth(raw, &width_);
            gp::GdipGetImageHeight(raw, &height_);
        }
    }
    bool Loaded() const { return image_.Valid(); }
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    COLORREF Pixel(int x, int y) const {
        Gdiplus::ARGB argb = 0;
        gp::GdipBitmapGetPixel(reinterpret_cast<GpBitmap*>(image_.Get()), x, y, &argb);
        return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
    }

private:
    ScopedGpImage image_;
    UINT width_ = 0;
    UINT height_ = 0;
};

// JPEG rounds colours by a few units.
::testing::AssertionResult Near(COLORREF expected, COLORREF actual) {
    const int d = std::abs(GetRValue(expected) - GetRValue(actual)) +
                  std::abs(GetGValue(expected) - GetGValue(actual)) +
                  std::abs(GetBValue(expected) - GetBValue(actual));
    if (d <= 24) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << std::hex << "expected 0x" << expected << ", got 0x" << actual;
}

TEST_F(ImagingTest, SmallerPictureAfterLargerLeavesOldPixelsOutsideItsCorner) {
    MakePicture(Wide(Path("large.png")), 640, 480, kBlue);
    MakePicture(Wide(Path("small.png")), 320, 240, kRed);

    LoadImageIntoDisplay(Path("large.png").c_str());
    EXPECT_EQ(640, PictureSize().cx);
    EXPECT_EQ(480, PictureSize().cy);
    EXPECT_EQ(kBlue, DisplayPixel(639, 479));

    LoadImageIntoDisplay(Path("small.png").c_str());
    EXPECT_EQ(320, PictureSize().cx);
    EXPECT_EQ(240, PictureSize().cy);
    EXPECT_EQ(kRed, DisplayPixel(0, 0));
    EXPECT_EQ(kRed, DisplayPixel(319, 239));
    EXPECT_EQ(kBlue, DisplayPixel(320, 100));
    EXPECT_EQ(kBlue, DisplayPixel(100, 240));
    EXPECT_EQ(kBlue, DisplayPixel(639, 479));
}

TEST_F(ImagingTest, PictureLargerThanTheSurfaceKeepsItsFullSize) {
    MakePicture(Wide(Path("huge.png")), 1280, 960, kGreen);
    LoadImageIntoDisplay(Path("huge.png").c_str());
    EXPECT_EQ(1280, PictureSize().cx);
    EXPECT_EQ(960, PictureSize().cy);
    EXPECT_EQ(kGreen, DisplayPixel(0, 0));
    EXPECT_EQ(kGreen, DisplayPixel(kSurfaceWidth - 1, kSurfaceHeight - 1));
}

TEST_F(ImagingTest, FileThatIsNoPictureLeavesZeroSizeAndTheSurfaceUnchanged) {
    MakePicture(Wide(Path("good.png")), 200, 100, kRed);
    MakePicture(Wide(Path("whole.jpg")), 200, 100, kBlue, L"image/jpeg");
    // Half a JPEG: what a cut-off download would leave.
    {
        HANDLE f = CreateFileA(Path("whole.jpg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, f);
        std::string bytes(GetFileSize(f, nullptr), '\0');
        DWORD got = 0;
        ReadFile(f, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(f);
        FILE* out = std::fopen(Path("half.jpg").c_str(), "wb");
        ASSERT_NE(nullptr, out);
        std::fwrite(bytes.data(), 1, got / 2, out);
        std::fclose(out);
    }
    const struct {
        const char* name;
        const char* content;  // null: the file does not exist
    } cases[] = {
        {"missing.jpg", nullptr},
        {"empty.jpg", ""},
        {"page.jpg", "<html><body><h1>Not Found</h1></body></html>"},
        {"half.jpg", nullptr},
    };
    for (const auto& c : cases) {
        if (c.content) {
            FILE* f = std::fopen(Path(c.name).c_str(), "wb");
            ASSERT_NE(nullptr, f);
            std::fputs(c.content, f);
            std::fclose(f);
        }
        LoadImageIntoDisplay(Path("good.png").c_str());
        ASSERT_EQ(200, PictureSize().cx);

        LoadImageIntoDisplay(Path(c.name).c_str());
        EXPECT_EQ(0, PictureSize().cx) << c.name;
        EXPECT_EQ(0, PictureSize().cy) << c.name;
        EXPECT_EQ(kRed, DisplayPixel(10, 10)) << c.name;
        EXPECT_EQ(kRed, DisplayPixel(199, 99)) << c.name;
    }
}

TEST_F(ImagingTest, NothingIsDrawnOnceTheSurfacesAreGone) {
    MakePicture(Wide(Path("after.png")), 64, 64, kGreen);
    LoadImageIntoDisplay(Path("good.png").c_str());
    {
        ExclusiveLock lock(app.surfaceLock);
        app.surfacesLive = false;
    }
    LoadImageIntoDisplay(Path("after.png").c_str());
    {
        ExclusiveLock lock(app.surfaceLock);
        app.surfacesLive = true;
    }
    EXPECT_NE(kGreen, DisplayPixel(10, 10));
}

TEST_F(ImagingTest, FindEncoderClsidMatchesTheMimeTypeExactly) {
    const CLSID untouched = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    CLSID jpeg = untouched;
    EXPECT_GE(FindEncoderClsid(L"image/jpeg", &jpeg), 0);
    EXPECT_FALSE(IsEqualCLSID(untouched, jpeg));
    CLSID png = untouched;
    EXPECT_GE(FindEncoderClsid(L"image/png", &png), 0);
    EXPECT_FALSE(IsEqualCLSID(jpeg, png));

    for (const wchar_t* mime : {L"IMAGE/JPEG", L"image/jpe", L"image/jpegx", L""}) {
        CLSID clsid = untouched;
        EXPECT_EQ(-1, FindEncoderClsid(mime, &clsid));
        EXPECT_TRUE(IsEqualCLSID(untouched, clsid));
    }
}

TEST_F(ImagingTest, SnapshotHasTheClientSizeAndIsBlackBeyondTheSurface) {
    MakePicture(Wide(Path("shown.png")), 640, 480, kGreen);
    LoadImageIntoDisplay(Path("shown.png").c_str());
    SetClientSize(1100, 800);
    SaveSnapshotJpeg(Path("wide.jpg").c_str());

    Decoded snap(Wide(Path("wide.jpg")));
    ASSERT_TRUE(snap.Loaded());
    EXPECT_EQ(1100u, snap.Width());
    EXPECT_EQ(800u, snap.Height());
    EXPECT_TRUE(Near(kGreen, snap.Pixel(10, 10)));
    EXPECT_TRUE(Near(kGreen, snap.Pixel(630, 470)));
    EXPECT_TRUE(Near(RGB(0, 0, 0), snap.Pixel(1060, 20)));
    EXPECT_TRUE(Near(RGB(0, 0, 0), snap.Pixel(20, 790)));
    EXPECT_TRUE(Near(RGB(0, 0, 0), snap.Pixel(1090, 790)));
    SetClientSize(640, 480);
}

TEST_F(ImagingTest, SnapshotWritesNothingForAnEmptyClientOrAMissingFolder) {
    LoadImageIntoDisplay(Path("good.png").c_str());
    SaveSnapshotJpeg(Path("nofolder\\snap.jpg").c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path("nofolder").c_str()));

    SetClientSize(0, 0);
    SaveSnapshotJpeg(Path("zero.jpg").c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path("zero.jpg").c_str()));
    SetClientSize(640, 480);
}

TEST_F(ImagingTest, JapanesePathLoadsAndSaves) {
    // The folder's first character ends in the byte 0x5C: a byte-wise
    // conversion would take it for a path separator.
    const std::wstring folder = Wide(dir_) + L"\\\u8868\u793a";  // 表示
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    MakePicture(folder + L"\\\u753b\u50cf.png", 320, 240, kBlue);  // 画像.png
    const std::string ansiFolder = dir_ + "\\\x95\x5c\x8e\xa6";
    const std::string picture = ansiFolder + "\\\x89\xe6\x91\x9c.png";
    const std::string snapshot = ansiFolder + "\\\x95\xdb\x91\xb6.jpg";  // 保存.jpg

    LoadImageIntoDisplay(picture.c_str());
    EXPECT_EQ(320, PictureSize().cx);
    EXPECT_EQ(240, PictureSize().cy);
    EXPECT_EQ(kBlue, DisplayPixel(5, 5));

    SetClientSize(320, 240);
    SaveSnapshotJpeg(snapshot.c_str());
    Decoded snap(folder + L"\\\u4fdd\u5b58.jpg");
    ASSERT_TRUE(snap.Loaded());
    EXPECT_EQ(320u, snap.Width());
    EXPECT_TRUE(Near(kBlue, snap.Pixel(160, 120)));
    SetClientSize(640, 480);
}

}  // namespace
}  // namespace torvanel
