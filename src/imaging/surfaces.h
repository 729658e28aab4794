// The picture's one owner: the three off-screen surfaces, the size of the last
// decoded picture, their guard and whether they still exist. Every operation
// takes the guard itself, so no caller can reach a surface without it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/scoped_win.h"

namespace torvanel {

// The surfaces start at 1024 x 768 and grow with the pictures, up to 4096 on
// each side; a larger picture keeps its top-left 4096 x 4096 part.
constexpr int32_t kInitialSurfaceWidth = 1024;
constexpr int32_t kInitialSurfaceHeight = 768;
constexpr int32_t kLargestSurfaceSide = 4096;

struct PictureSize {
    int32_t width;
    int32_t height;
};
inline bool operator==(PictureSize a, PictureSize b) {
    return a.width == b.width && a.height == b.height;
}
inline bool operator!=(PictureSize a, PictureSize b) {
    return !(a == b);
}

// The size a surface of `current` size takes so that it holds a picture of
// width x height: larger on no side than the picture or 4096, never smaller
// than it was.
SIZE GrownSurfaceSize(SIZE current, int32_t width, int32_t height);

// A memory DC with a bitmap in the screen's colour format selected for its
// whole life.
class Surface {
public:
    Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // A DC compatible with reference and a bitmap of size compatible with it.
    // False, with the surface empty, when either cannot be made.
    bool Make(HDC reference, SIZE size);
    // Exchanges two surfaces without freeing a bitmap still selected into its DC.
    void Swap(Surface& other);
    void Free();

    HDC Dc() const { return dc_.Get(); }
    SIZE Size() const { return size_; }
    explicit operator bool() const { return dc_.Valid(); }

private:
    // Declared bitmap first: the DC goes first, which releases the selection.
    ScopedBitmap bitmap_;
    ScopedMemoryDc dc_;
    SIZE size_{0, 0};
};

class FrameSurfaces {
public:
    // Where a decode draws: growing displaySurface for the picture and handing
    // out its DC, valid only inside DrawPicture.
    class Canvas {
    public:
        // The DC to draw a width x height picture into, after growing the
        // surface where it is smaller. A failed growth keeps the old surface,
        // which then holds the picture's top-left part.
        HDC Prepare(int32_t width, int32_t height);

    private:
        friend class FrameSurfaces;
        explicit Canvas(FrameSurfaces& owner) : owner_(owner) {}
        FrameSurfaces& owner_;
    };

    // Window creation: three surfaces of 1024 x 768 compatible with the
    // window's DC. Window destruction: frees them; every operation after it
    // does nothing.
    void CreateSurfaces(HWND window);
    void DestroySurfaces();

    // Decoding, in one hold of the guard: draw(canvas) draws the picture and
    // returns its size, stored as the picture size (0 x 0 for no picture, with
    // the surface left as it was). Not called once the surfaces are gone.
    template <typename Draw>
    PictureSize DrawPicture(Draw&& draw) {
        ExclusiveLock lock(lock_);
        if (!live_) {
            return PictureSize{0, 0};
        }
        Canvas canvas(*this);
        const PictureSize size = draw(canvas);
        picture_ = size.width > 0 && size.height > 0 ? size : PictureSize{0, 0};
        return picture_;
    }

    // The picture rectangle of displaySurface onto a window now, and onto a
    // paint DC.
    void PresentDisplay(HWND window);
    void Paint(HDC dc);

    // Copies the width x height part of displaySurface from (0, 0) into dc at
    // (0, 0): a snapshot's or a movie frame's client area. Beyond the surface
    // the copy is black. False when the surfaces are gone or the copy failed.
    bool CopyDisplay(HDC dc, int32_t width, int32_t height);

    // The detector's tick, in one hold: previousSurface takes currentSurface,
    // currentSurface takes displaySurface (both grown to displaySurface's size
    // first), then read(current DC, previous DC, their size, picture size)
    // copies the looks out, so the tick sees one picture and one size
    // throughout. taken is false when the surfaces are gone.
    struct Look {
        bool taken;
        PictureSize picture;
    };
    template <typename Read>
    Look RotateLooks(Read&& read) {
        ExclusiveLock lock(lock_);
        if (!live_) {
            return Look{false, {0, 0}};
        }
        RotateLooksHeld();
        read(currentSurface.Dc(), previousSurface.Dc(), currentSurface.Size(), picture_);
        return Look{true, picture_};
    }

    PictureSize Size();

private:
    // The guard is held by the caller of each of these.
    void CopySurface(const Surface& from, Surface& to) const;
    void RotateLooksHeld();
    static bool GrowHeld(Surface& surface, SIZE size);

    SRWLOCK lock_ = SRWLOCK_INIT;
    bool live_ = false;
    Surface displaySurface;
    Surface currentSurface;
    Surface previousSurface;
    PictureSize picture_{0, 0};
};

}  // namespace torvanel
