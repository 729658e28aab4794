#include "imaging/surfaces.h"

#include <algorithm>
#include <utility>

namespace torvanel {

namespace {
SIZE Clip(SIZE surface, int32_t width, int32_t height) {
    return SIZE{std::min<LONG>(surface.cx, std::max<int32_t>(width, 0)),
                std::min<LONG>(surface.cy, std::max<int32_t>(height, 0))};
}
}  // namespace

SIZE GrownSurfaceSize(SIZE current, int32_t width, int32_t height) {
    const LONG w = std::min<int32_t>(width, kLargestSurfaceSide);
    const LONG h = std::min<int32_t>(height, kLargestSurfaceSide);
    return SIZE{std::max(current.cx, w), std::max(current.cy, h)};
}

bool Surface::Make(HDC reference, SIZE size) {
    Free();
    ScopedMemoryDc dc(CreateCompatibleDC(reference));
    // Compatible with the reference, not with the new memory DC, which is monochrome.
    ScopedBitmap bitmap(CreateCompatibleBitmap(reference, size.cx, size.cy));
    if (!dc || !bitmap || !SelectObject(dc.Get(), bitmap.Get())) {
        return false;  // the DC goes first, as declared below, so nothing stays selected
    }
    bitmap_ = std::move(bitmap);
    dc_ = std::move(dc);
    size_ = size;
    return true;
}

void Surface::Swap(Surface& other) {
    // Moves into empty owners only: nothing is freed on the way.
    std::swap(bitmap_, other.bitmap_);
    std::swap(dc_, other.dc_);
    std::swap(size_, other.size_);
}

void Surface::Free() {
    dc_.Reset();
    bitmap_.Reset();
    size_ = SIZE{0, 0};
}

HDC FrameSurfaces::Canvas::Prepare(int32_t width, int32_t height) {
    Surface& display = owner_.displaySurface;
    GrowHeld(display, GrownSurfaceSize(display.Size(), width, height));
    return display.Dc();
}

void FrameSurfaces::CreateSurfaces(HWND window) {
    WindowDc windowDc(window);
    const SIZE initial{kInitialSurfaceWidth, kInitialSurfaceHeight};
    ExclusiveLock lock(lock_);
    displaySurface.Make(windowDc.Get(), initial);
    currentSurface.Make(windowDc.Get(), initial);
    previousSurface.Make(windowDc.Get(), initial);
    picture_ = PictureSize{0, 0};
    live_ = true;
}

void FrameSurfaces::DestroySurfaces() {
    ExclusiveLock lock(lock_);
    live_ = false;
    displaySurface.Free();
    currentSurface.Free();
    previousSurface.Free();
    picture_ = PictureSize{0, 0};
}

// The new surface takes the old one's pixels, so what lay outside the picture
// stays as it was; a surface that cannot be made leaves the old one in use.
bool FrameSurfaces::GrowHeld(Surface& surface, SIZE size) {
    if (!surface || (size.cx <= surface.Size().cx && size.cy <= surface.Size().cy)) {
        return true;
    }
    Surface larger;
    if (!larger.Make(surface.Dc(), size)) {
        return false;
    }
    BitBlt(larger.Dc(), 0, 0, surface.Size().cx, surface.Size().cy, surface.Dc(), 0, 0, SRCCOPY);
    surface.Swap(larger);
    return true;
}

void FrameSurfaces::CopySurface(const Surface& from, Surface& to) const {
    const SIZE part = Clip(from.Size(), picture_.width, picture_.height);
    if (!from || !to || part.cx <= 0 || part.cy <= 0) {
        return;
    }
    BitBlt(to.Dc(), 0, 0, part.cx, part.cy, from.Dc(), 0, 0, SRCCOPY);
}

void FrameSurfaces::RotateLooksHeld() {
    // The looks follow the display's growth here, on the detector's own
    // thread, so they cost nothing while detection is off.
    GrowHeld(currentSurface, displaySurface.Size());
    GrowHeld(previousSurface, displaySurface.Size());
    CopySurface(currentSurface, previousSurface);
    CopySurface(displaySurface, currentSurface);
}

void FrameSurfaces::PresentDisplay(HWND window) {
    // GetDC does not wait for the window's thread, so this may run on the fetch thread.
    WindowDc windowDc(window);
    if (windowDc) {
        Paint(windowDc.Get());
    }
}

void FrameSurfaces::Paint(HDC dc) {
    ExclusiveLock lock(lock_);
    if (!live_) {
        return;
    }
    // Beyond the surface lies nothing to copy: the window's background shows there.
    const SIZE part = Clip(displaySurface.Size(), picture_.width, picture_.height);
    if (part.cx > 0 && part.cy > 0) {
        BitBlt(dc, 0, 0, part.cx, part.cy, displaySurface.Dc(), 0, 0, SRCCOPY);
    }
}

bool FrameSurfaces::CopyDisplay(HDC dc, int32_t width, int32_t height) {
    if (!dc || width <= 0 || height <= 0) {
        return false;
    }
    ExclusiveLock lock(lock_);
    if (!live_ || !displaySurface) {
        return false;
    }
    const SIZE part = Clip(displaySurface.Size(), width, height);
    // Only what lies beyond the surface is painted black, so a copy within it
    // costs one block transfer.
    if (part.cx < width) {
        PatBlt(dc, part.cx, 0, width - part.cx, height, BLACKNESS);
    }
    if (part.cy < height) {
        PatBlt(dc, 0, part.cy, part.cx, height - part.cy, BLACKNESS);
    }
    return BitBlt(dc, 0, 0, part.cx, part.cy, displaySurface.Dc(), 0, 0, SRCCOPY) != FALSE;
}

PictureSize FrameSurfaces::Size() {
    SharedLock lock(lock_);
    return picture_;
}

}  // namespace torvanel
