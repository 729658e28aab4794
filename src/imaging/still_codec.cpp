#include "imaging/still_codec.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "imaging/gdiplus_scoped.h"
#include "imaging/wide_path.h"

namespace torvanel {

namespace {

struct PictureSize {
    int32_t width;
    int32_t height;
};

// Decodes the file and draws it at its natural size into displaySurface.
// The caller holds the surface guard with the surfaces live. Returns 0 x 0,
// with the surface untouched, when the file is no picture.
PictureSize DrawPictureFile(const std::wstring& path) {
    if (path.empty() || !app.displaySurface.dc) {
        return {0, 0};
    }
    ScopedGpImage image;
    {
        GpImage* raw = nullptr;
        if (gp::GdipLoadImageFromFile(path.c_str(), &raw) != Gdiplus::Ok) {
            return {0, 0};
        }
        image.Reset(raw);
    }
    UINT width = 0;
    UINT height = 0;
    if (gp::GdipGetImageWidth(image.Get(), &width) != Gdiplus::Ok ||
        gp::GdipGetImageHeight(image.Get(), &height) != Gdiplus::Ok || width == 0 || height == 0 ||
        width > INT32_MAX || height > INT32_MAX) {
        return {0, 0};
    }
    ScopedGpGraphics graphics;
    {
        GpGraphics* raw = nullptr;
        if (gp::GdipCreateFromHDC(app.displaySurface.dc, &raw) != Gdiplus::Ok) {
            return {0, 0};
        }
        graphics.Reset(raw);
    }
    // The exact pixel size, whatever resolution the file records: no scaling.
    // Whatever lies beyond the 1024 x 768 surface is cut off by the DC.
    const INT w = static_cast<INT>(width);
    const INT h = static_cast<INT>(height);
    if (gp::GdipDrawImageRectI(graphics.Get(), image.Get(), 0, 0, w, h) != Gdiplus::Ok) {
        return {0, 0};
    }
    return {w, h};
}

}  // namespace

void LoadImageIntoDisplay(const char* path) {
    const std::wstring wide = WidePath(path);
    PictureSize size{0, 0};
    {
        // Decode, draw and store the size in one hold, so a reader sees either
        // the old picture with its size or the new one with its own.
        ExclusiveLock lock(app.surfaceLock);
        if (!app.surfacesLive) {
            return;
        }
        size = DrawPictureFile(wide);
        app.imageWidth = size.width;
        app.imageHeight = size.height;
    }
    if (size.width <= 0 || size.height <= 0) {
        return;
    }
    // Outside the guard: the paint that UpdateWindow waits for takes it.
    RECT picture{0, 0, size.width, size.height};
    InvalidateRect(app.mainWindow, &picture, FALSE);
    UpdateWindow(app.mainWindow);
}

void SaveSnapshotJpeg(const char* path) {
    RECT client{};
    if (!GetClientRect(app.mainWindow, &client)) {
        return;
    }
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::wstring wide = WidePath(path);
    if (wide.empty()) {
        return;
    }

    ExclusiveLock lock(app.surfaceLock);
    if (!app.surfacesLive || !app.displaySurface.dc) {
        return;
    }
    CLSID jpeg;
    if (FindEncoderClsid(L"image/jpeg", &jpeg) < 0) {
        return;
    }
    ScopedGpImage bitmap;
    {
        GpBitmap* raw = nullptr;
        if (gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &raw) !=
            Gdiplus::Ok) {
            return;
        }
        bitmap.Reset(raw);
    }
    ScopedGpGraphics graphics;
    {
        GpGraphics* raw = nullptr;
        if (gp::GdipGetImageGraphicsContext(bitmap.Get(), &raw) != Gdiplus::Ok) {
            return;
        }
        graphics.Reset(raw);
    }
    {
        GpGraphicsDc dc(graphics.Get());
        if (!dc.Get()) {
            return;
        }
        // Where the client area reaches past the surface the snapshot is black;
        // a copy from outside the bitmap yields nothing dependable.
        PatBlt(dc.Get(), 0, 0, width, height, BLACKNESS);
        if (!BitBlt(dc.Get(), 0, 0, std::min(width, kSurfaceWidth),
                    std::min(height, kSurfaceHeight), app.displaySurface.dc, 0, 0, SRCCOPY)) {
            return;
        }
    }
    // Default quality: the encoder takes no parameters here.
    gp::GdipSaveImageToFile(bitmap.Get(), wide.c_str(), &jpeg, nullptr);
}

int FindEncoderClsid(const wchar_t* mimeType, CLSID* clsid) {
    if (!mimeType || !clsid) {
        return -1;
    }
    UINT count = 0;
    UINT bytes = 0;
    if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || count == 0 ||
        bytes < count * sizeof(Gdiplus::ImageCodecInfo)) {
        return -1;
    }
    // The records come first in one block, followed by the texts they point at.
    const size_t records =
        (bytes + sizeof(Gdiplus::ImageCodecInfo) - 1) / sizeof(Gdiplus::ImageCodecInfo);
    std::unique_ptr<Gdiplus::ImageCodecInfo[]> block(new (std::nothrow)
                                                         Gdiplus::ImageCodecInfo[records]);
    if (!block || gp::GdipGetImageEncoders(count, bytes, block.get()) != Gdiplus::Ok) {
        return -1;
    }
    for (UINT i = 0; i < count; ++i) {
        const WCHAR* mime = block[i].MimeType;
        if (mime && std::wcscmp(mime, mimeType) == 0) {
            *clsid = block[i].Clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace torvanel
