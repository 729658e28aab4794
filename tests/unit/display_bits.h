// Test helpers: paint straight into the display surface, and read what a copy
// out of it holds, both through the surfaces' own guarded operations.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/app_state.h"
#include "base/dib_info.h"
#include "base/scoped_win.h"

namespace torvanel {

// Paints a width x height picture into displaySurface with paint(dc), as a
// decode would, and stores its size.
template <typename Paint>
PictureSize PaintDisplay(int32_t width, int32_t height, Paint&& paint) {
    return app.surfaces.DrawPicture([&](FrameSurfaces::Canvas& canvas) {
        HDC dc = canvas.Prepare(width, height);
        if (!dc) {
            return PictureSize{0, 0};
        }
        paint(dc);
        return PictureSize{width, height};
    });
}

inline PictureSize FillDisplay(int32_t width, int32_t height, COLORREF colour) {
    return PaintDisplay(width, height, [&](HDC dc) {
        Scoped<HBRUSH, GdiObjectTraits<HBRUSH>> brush(CreateSolidBrush(colour));
        RECT all{0, 0, width, height};
        FillRect(dc, &all, brush.Get());
    });
}

// A top-down 32-bit DIB section and its DC, read pixel by pixel.
class DibBits {
public:
    DibBits(int32_t width, int32_t height) : width_(width), height_(height) {
        const BITMAPINFO info = TopDownDibInfo(width, height);
        void* pixels = nullptr;
        dib_.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
        dc_.Reset(CreateCompatibleDC(nullptr));
        if (dib_ && dc_ && SelectObject(dc_.Get(), dib_.Get())) {
            pixels_ = static_cast<const uint32_t*>(pixels);
        }
    }
    bool Valid() const { return pixels_ != nullptr; }
    HDC Dc() const { return dc_.Get(); }
    COLORREF Pixel(int32_t x, int32_t y) const {
        GdiFlush();
        const uint32_t p = pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

private:
    int32_t width_;
    int32_t height_;
    ScopedBitmap dib_;
    ScopedMemoryDc dc_;  // goes first, releasing the selection
    const uint32_t* pixels_ = nullptr;
};

// What a snapshot or a movie frame of width x height would copy out of the
// display surface now.
class DisplayCopy : public DibBits {
public:
    DisplayCopy(int32_t width, int32_t height) : DibBits(width, height) {
        copied_ = Valid() && app.surfaces.CopyDisplay(Dc(), width, height);
    }
    bool Copied() const { return copied_; }

private:
    bool copied_ = false;
};

}  // namespace torvanel
