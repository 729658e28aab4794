#include "app/gdiplus_session.h"

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "imaging/gdiplus_flat.h"

namespace torvanel {

namespace {
// Version 1, no debug callback, background thread and external codecs allowed.
const Gdiplus::GdiplusStartupInput kStartupInput(nullptr, FALSE, FALSE);
}  // namespace

void StartGdiplus() {
    // A failure leaves the token 0; decoding and snapshots then fail quietly.
    Gdiplus::GdiplusStartup(&app.gdiplusToken, &kStartupInput, nullptr);
}

void StopGdiplus() {
    // After DestroySurfaces: a worker calls GDI+ only inside the surfaces'
    // guard while they exist, so none is in GDI+ now or will enter it.
    if (app.gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(app.gdiplusToken);
        app.gdiplusToken = 0;
    }
}

}  // namespace torvanel
