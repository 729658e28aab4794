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
    // Under the surface guard: every GDI+ call of a worker runs under it too,
    // and only while surfacesLive, which DestroySurfaces has already cleared.
    ExclusiveLock lock(app.surfaceLock);
    if (app.gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(app.gdiplusToken);
        app.gdiplusToken = 0;
    }
}

}  // namespace torvanel
