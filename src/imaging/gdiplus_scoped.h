// Owners for GDI+ flat-interface objects. Kept out of base/scoped_win.h so the
// GDI+ headers reach only the files that draw.
#pragma once

#include "base/scoped_win.h"
#include "imaging/gdiplus_flat.h"

namespace torvanel {

struct GpImageTraits {
    static GpImage* Empty() { return nullptr; }
    static void Close(GpImage* image) { gp::GdipDisposeImage(image); }
};
struct GpGraphicsTraits {
    static GpGraphics* Empty() { return nullptr; }
    static void Close(GpGraphics* graphics) { gp::GdipDeleteGraphics(graphics); }
};

using ScopedGpImage = Scoped<GpImage*, GpImageTraits>;
using ScopedGpGraphics = Scoped<GpGraphics*, GpGraphicsTraits>;

// A GDI device context lent by a GDI+ drawing context; what was drawn through
// it reaches the image only once it is given back.
class GpGraphicsDc {
public:
    explicit GpGraphicsDc(GpGraphics* graphics) : graphics_(graphics) {
        if (graphics_ && gp::GdipGetDC(graphics_, &dc_) != Gdiplus::Ok) {
            dc_ = nullptr;
        }
    }
    ~GpGraphicsDc() {
        if (dc_) {
            gp::GdipReleaseDC(graphics_, dc_);
        }
    }
    GpGraphicsDc(const GpGraphicsDc&) = delete;
    GpGraphicsDc& operator=(const GpGraphicsDc&) = delete;
    HDC Get() const { return dc_; }

private:
    GpGraphics* graphics_;
    HDC dc_ = nullptr;
};

}  // namespace torvanel
