// The still-image codec against the real GDI+ and GDI: decoding into the
// display surface, JPEG snapshots of the client area, encoder look-up, and
// code page 932 paths.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "app/gdiplus_session.h"
#include "detect/surface_count.h"
#include "display_bits.h"
#include "imaging/gdiplus_scoped.h"
#include "imaging/still_codec.h"

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
        app.surfaces.CreateSurfaces(window_);
        ASSERT_TRUE(DisplayCopy(1, 1).Copied());

        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        dir_ = std::string(temp) + "torvanel-imaging-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    }
    static void TearDownTestSuite() {
        app.surfaces.DestroySurfaces();
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

    // One pixel of the display surface, read through a copy of its corner.
    static COLORREF DisplayPixel(int x, int y) { return DisplayCopy(x + 1, y + 1).Pixel(x, y); }
    static SIZE ShownSize() {
        const PictureSize size = app.surfaces.Size();
        return SIZE{size.width, size.height};
    }
    // Surfaces as the window's creation makes them, 1024 x 768.
    static void FreshSurfaces() {
        app.surfaces.DestroySurfaces();
        app.surfaces.CreateSurfaces(window_);
    }

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
    EXPECT_EQ(640, ShownSize().cx);
    EXPECT_EQ(480, ShownSize().cy);
    EXPECT_EQ(kBlue, DisplayPixel(639, 479));

    LoadImageIntoDisplay(Path("small.png").c_str());
    EXPECT_EQ(320, ShownSize().cx);
    EXPECT_EQ(240, ShownSize().cy);
    EXPECT_EQ(kRed, DisplayPixel(0, 0));
    EXPECT_EQ(kRed, DisplayPixel(319, 239));
    EXPECT_EQ(kBlue, DisplayPixel(320, 100));
    EXPECT_EQ(kBlue, DisplayPixel(100, 240));
    EXPECT_EQ(kBlue, DisplayPixel(639, 479));
}

TEST(GrownSurfaceSize, GrowsToThePictureUpTo4096AndNeverShrinks) {
    const struct {
        SIZE current;
        int32_t w, h;
        LONG cx, cy;
    } cases[] = {
        {{1024, 768}, 320, 240, 1024, 768},
        {{1024, 768}, 1024, 768, 1024, 768},
        {{1024, 768}, 1920, 1080, 1920, 1080},
        {{1920, 1080}, 640, 480, 1920, 1080},    // never shrinks
        {{1920, 1080}, 1280, 1440, 1920, 1440},  // grows on one side only
        {{1024, 768}, 4096, 4096, 4096, 4096},
        {{1024, 768}, 5000, 300, 4096, 768},  // a larger picture keeps its top-left part
        {{1024, 768}, INT32_MAX, INT32_MAX, 4096, 4096},
        {{1024, 768}, 0, -5, 1024, 768},
    };
    for (const auto& c : cases) {
        const SIZE s = GrownSurfaceSize(c.current, c.w, c.h);
        EXPECT_EQ(c.cx, s.cx) << c.w << " x " << c.h;
        EXPECT_EQ(c.cy, s.cy) << c.w << " x " << c.h;
    }
}

TEST_F(ImagingTest, HdPictureIsHeldWhole) {
    FreshSurfaces();
    MakePicture(Wide(Path("hd.png")), 1920, 1080, kGreen);
    LoadImageIntoDisplay(Path("hd.png").c_str());
    EXPECT_EQ(1920, ShownSize().cx);
    EXPECT_EQ(1080, ShownSize().cy);
    const DisplayCopy copy(1920, 1080);
    ASSERT_TRUE(copy.Copied());
    EXPECT_EQ(kGreen, copy.Pixel(0, 0));
    EXPECT_EQ(kGreen, copy.Pixel(1919, 1079));
    EXPECT_EQ(kGreen, copy.Pixel(1500, 20));
    EXPECT_EQ(kGreen, copy.Pixel(20, 1000));

    // A smaller picture after it: the surfaces keep their size and what lay
    // outside the new picture.
    MakePicture(Wide(Path("small-after-hd.png")), 320, 240, kRed);
    LoadImageIntoDisplay(Path("small-after-hd.png").c_str());
    const DisplayCopy after(1920, 1080);
    EXPECT_EQ(kRed, after.Pixel(319, 239));
    EXPECT_EQ(kGreen, after.Pixel(1919, 1079));

    // A snapshot of a client area that size holds the picture to its corner.
    LoadImageIntoDisplay(Path("hd.png").c_str());
    SetClientSize(1920, 1080);
    SaveSnapshotJpeg(Path("hd-snap.jpg").c_str());
    SetClientSize(640, 480);
    Decoded snap(Wide(Path("hd-snap.jpg")));
    ASSERT_TRUE(snap.Loaded());
    EXPECT_EQ(1920u, snap.Width());
    EXPECT_TRUE(Near(kGreen, snap.Pixel(1915, 1075)));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path("hd-snap.jpg.part").c_str()));
}

// The detector's looks follow the display surface's growth: a change in the
// bottom-right quarter of an HD picture counts, pixel for pixel.
TEST_F(ImagingTest, DetectorCountsEveryPixelOfAnHdPicture) {
    FreshSurfaces();
    SurfaceChangeCounter counter;
    auto take = [&] {
        int32_t changed = -1;
        app.surfaces.RotateLooks([&](HDC current, HDC previous, SIZE looks, PictureSize p) {
            changed = counter.Count(current, previous, looks, p.width, p.height, 0);
        });
        return changed;
    };
    FillDisplay(1920, 1080, kRed);
    take();
    take();  // both looks now hold the red picture
    PaintDisplay(1920, 1080, [](HDC dc) {
        Scoped<HBRUSH, GdiObjectTraits<HBRUSH>> blue(CreateSolidBrush(kBlue));
        RECT quarter{960, 540, 1920, 1080};
        FillRect(dc, &quarter, blue.Get());
    });
    EXPECT_EQ(960 * 540, take());
    EXPECT_EQ(0, take());
}

// Runs body(0) and body(1) on two threads beside this one, which owns the
// window and so answers the repaints a decode asks for, until seconds passed.
template <typename Body>
void RaceOnTwoThreads(double seconds, Body body) {
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            while (!stop.load()) {
                body(i);
            }
            ++finished;
        });
    }
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    const ULONGLONG limit = end + 10000;
    while (finished.load() < 2 && GetTickCount64() < limit) {
        if (GetTickCount64() >= end) {
            stop = true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

// A snapshot or a movie frame copied while a picture is drawn gets the old
// picture or the new one, never part of each. The picture is drawn in bands,
// as a decoder may draw it, alternately red and blue.
TEST_F(ImagingTest, CopyDuringADecodeIsNeverTorn) {
    FreshSurfaces();
    std::atomic<int> draws{0}, copies{0}, torn{0};
    DibBits copy(400, 300);
    ASSERT_TRUE(copy.Valid());
    RaceOnTwoThreads(1.5, [&](int role) {
        if (role == 0) {
            const COLORREF colour = draws++ % 2 ? kRed : kBlue;
            PaintDisplay(400, 300, [&](HDC dc) {
                Scoped<HBRUSH, GdiObjectTraits<HBRUSH>> brush(CreateSolidBrush(colour));
                for (int band = 0; band < 300; band += 30) {
                    RECT r{0, band, 400, band + 30};
                    FillRect(dc, &r, brush.Get());
                    Sleep(0);
                }
            });
        } else if (app.surfaces.CopyDisplay(copy.Dc(), 400, 300)) {
            ++copies;
            if (copy.Pixel(0, 0) != copy.Pixel(399, 299) ||
                copy.Pixel(0, 0) != copy.Pixel(200, 150)) {
                ++torn;
            }
        }
    });
    EXPECT_GT(draws.load(), 10);
    EXPECT_GT(copies.load(), 10);
    EXPECT_EQ(0, torn.load());
}

// The detector's tick takes its looks while the fetch thread decodes pictures
// of two sizes: the look it compares is one whole picture with its own size.
TEST_F(ImagingTest, DetectorTickSeesOnePictureAndOneSize) {
    FreshSurfaces();
    MakePicture(Wide(Path("race-large.png")), 800, 600, kRed);
    MakePicture(Wide(Path("race-small.png")), 400, 300, kBlue);
    const std::string large = Path("race-large.png");
    const std::string small = Path("race-small.png");
    std::atomic<int> decodes{0}, looks{0}, mismatched{0};
    DibBits look(800, 600);
    ASSERT_TRUE(look.Valid());
    RaceOnTwoThreads(1.5, [&](int role) {
        if (role == 0) {
            LoadImageIntoDisplay((decodes++ % 2 ? small : large).c_str());
            return;
        }
        PictureSize size{0, 0};
        app.surfaces.RotateLooks([&](HDC current, HDC, SIZE, PictureSize picture) {
            BitBlt(look.Dc(), 0, 0, 800, 600, current, 0, 0, SRCCOPY);
            size = picture;
        });
        if (size.width == 0) {
            return;  // no picture decoded yet
        }
        ++looks;
        const COLORREF expected = size.width == 800 ? kRed : kBlue;
        if ((size.width != 800 && size.width != 400) || look.Pixel(0, 0) != expected ||
            look.Pixel(size.width - 1, size.height - 1) != expected) {
            ++mismatched;
        }
    });
    EXPECT_GT(decodes.load(), 10);
    EXPECT_GT(looks.load(), 10);
    EXPECT_EQ(0, mismatched.load());
}

TEST_F(ImagingTest, PictureBeyond4096KeepsItsFullSizeAndItsTopLeftPart) {
    FreshSurfaces();
    MakePicture(Wide(Path("wide.png")), 5000, 300, kBlue);
    LoadImageIntoDisplay(Path("wide.png").c_str());
    EXPECT_EQ(5000, ShownSize().cx);
    EXPECT_EQ(300, ShownSize().cy);
    const DisplayCopy copy(4200, 300);
    ASSERT_TRUE(copy.Copied());
    EXPECT_EQ(kBlue, copy.Pixel(4095, 299));
    EXPECT_EQ(RGB(0, 0, 0), copy.Pixel(4096, 10));  // beyond the surface: black
    EXPECT_EQ(RGB(0, 0, 0), copy.Pixel(4199, 299));
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
        ASSERT_EQ(200, ShownSize().cx);

        LoadImageIntoDisplay(Path(c.name).c_str());
        EXPECT_EQ(0, ShownSize().cx) << c.name;
        EXPECT_EQ(0, ShownSize().cy) << c.name;
        EXPECT_EQ(kRed, DisplayPixel(10, 10)) << c.name;
        EXPECT_EQ(kRed, DisplayPixel(199, 99)) << c.name;
    }
}

TEST_F(ImagingTest, NothingIsDrawnOrCopiedOnceTheSurfacesAreGone) {
    MakePicture(Wide(Path("after.png")), 64, 64, kGreen);
    app.surfaces.DestroySurfaces();
    EXPECT_EQ(0, LoadImageIntoDisplay(Path("after.png").c_str()).width);
    EXPECT_FALSE(DisplayCopy(64, 64).Copied());
    FreshSurfaces();
    EXPECT_EQ(64, LoadImageIntoDisplay(Path("after.png").c_str()).width);
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
    FreshSurfaces();
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
    EXPECT_EQ(320, ShownSize().cx);
    EXPECT_EQ(240, ShownSize().cy);
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
