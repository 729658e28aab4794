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

struct ComStreamTraits {
    static IStream* Empty() { return nullptr; }
    static void Close(IStream* stream) { stream->Release(); }
};
using ScopedComStream = Scoped<IStream*, ComStreamTraits>;

// The bytes of a memory block, locked while in scope.
class GlobalBytes {
public:
    explicit GlobalBytes(HGLOBAL memory)
        : memory_(memory), bytes_(memory ? GlobalLock(memory) : nullptr) {}
    ~GlobalBytes() {
        if (bytes_) {
            GlobalUnlock(memory_);
        }
    }
    GlobalBytes(const GlobalBytes&) = delete;
    GlobalBytes& operator=(const GlobalBytes&) = delete;
    const void* Get() const { return bytes_; }

private:
    HGLOBAL memory_;
    void* bytes_;
};

// Decodes the file and draws it at its natural size into the display surface,
// grown for it. 0 x 0, with the surface untouched, when the file is no picture.
PictureSize DrawPictureFile(const std::wstring& path, FrameSurfaces::Canvas& canvas) {
    if (path.empty()) {
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
    const INT w = static_cast<INT>(width);
    const INT h = static_cast<INT>(height);
    HDC dc = canvas.Prepare(w, h);
    ScopedGpGraphics graphics;
    {
        GpGraphics* raw = nullptr;
        if (!dc || gp::GdipCreateFromHDC(dc, &raw) != Gdiplus::Ok) {
            return {0, 0};
        }
        graphics.Reset(raw);
    }
    // The exact pixel size, whatever resolution the file records: no scaling.
    // Whatever lies beyond the surface is cut off by the DC.
    if (gp::GdipDrawImageRectI(graphics.Get(), image.Get(), 0, 0, w, h) != Gdiplus::Ok) {
        return {0, 0};
    }
    return {w, h};
}

// Encodes the bitmap as a JPEG into memory, so that writing the file is one
// checked write whose failure (a full disk) is seen, never half a picture.
ScopedGlobal EncodeJpeg(GpImage* bitmap, size_t* size) {
    CLSID jpeg;
    if (FindEncoderClsid(L"image/jpeg", &jpeg) < 0) {
        return ScopedGlobal();
    }
    ScopedComStream stream;
    {
        IStream* raw = nullptr;
        // The stream does not own the block: it stays ours after the release.
        if (FAILED(CreateStreamOnHGlobal(nullptr, FALSE, &raw))) {
            return ScopedGlobal();
        }
        stream.Reset(raw);
    }
    // Default quality: the encoder takes no parameters here.
    const bool saved =
        gp::GdipSaveImageToStream(bitmap, stream.Get(), &jpeg, nullptr) == Gdiplus::Ok;
    // Asked for after the writes, which may have moved the block; ours either way.
    HGLOBAL block = nullptr;
    ScopedGlobal memory(SUCCEEDED(GetHGlobalFromStream(stream.Get(), &block)) ? block : nullptr);
    if (!saved || !memory) {
        return ScopedGlobal();
    }
    LARGE_INTEGER zero{};
    ULARGE_INTEGER end{};
    if (FAILED(stream.Get()->Seek(zero, STREAM_SEEK_END, &end)) || end.QuadPart == 0 ||
        end.QuadPart > MAXDWORD) {
        return ScopedGlobal();
    }
    *size = static_cast<size_t>(end.QuadPart);
    return memory;
}

// Writes the bytes beside path and moves them over it only once they are all
// on disk; a failed write leaves no file of either name.
bool WriteWholeFile(const char* path, const void* bytes, size_t size) {
    const std::string partial = std::string(path) + ".part";
    bool written = false;
    {
        ScopedFile file(CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        DWORD done = 0;
        written =
            WriteFile(file.Get(), bytes, static_cast<DWORD>(size), &done, nullptr) && done == size;
        written = CloseHandle(file.Release()) && written;
    }
    if (written && MoveFileExA(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    DeleteFileA(partial.c_str());
    return false;
}

}  // namespace

PictureSize LoadImageIntoDisplay(const char* path) {
    const std::wstring wide = WidePath(path);
    // Decode, draw and store the size in one hold of the surfaces' guard, so a
    // reader sees either the old picture with its size or the new one with its
    // own. GDI+ is not called once the surfaces are gone.
    const PictureSize size = app.surfaces.DrawPicture(
        [&](FrameSurfaces::Canvas& canvas) { return DrawPictureFile(wide, canvas); });
    if (size.width <= 0 || size.height <= 0) {
        return size;
    }
    // Outside the guard: the paint that UpdateWindow waits for takes it.
    RECT picture{0, 0, size.width, size.height};
    InvalidateRect(app.mainWindow, &picture, FALSE);
    UpdateWindow(app.mainWindow);
    return size;
}

void SaveSnapshotJpeg(const char* path) {
    RECT client{};
    if (!path || !GetClientRect(app.mainWindow, &client)) {
        return;
    }
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0) {
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
    {
        ScopedGpGraphics graphics;
        GpGraphics* raw = nullptr;
        if (gp::GdipGetImageGraphicsContext(bitmap.Get(), &raw) != Gdiplus::Ok) {
            return;
        }
        graphics.Reset(raw);
        GpGraphicsDc dc(graphics.Get());
        // Only this copy holds the surfaces' guard; encoding and writing, which
        // may be slow on a slow folder, hold up neither the live picture nor a
        // recorder.
        if (!dc.Get() || !app.surfaces.CopyDisplay(dc.Get(), width, height)) {
            return;
        }
    }
    size_t size = 0;
    ScopedGlobal jpeg = EncodeJpeg(bitmap.Get(), &size);
    GlobalBytes bytes(jpeg.Get());
    if (bytes.Get()) {
        WriteWholeFile(path, bytes.Get(), size);
    }
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
