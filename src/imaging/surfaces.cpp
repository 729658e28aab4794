#include "imaging/surfaces.h"

#include "base/scoped_win.h"

namespace torvanel {

namespace {
void MakeSurface(HDC windowDc, Surface& s) {
    s.dc = CreateCompatibleDC(windowDc);
    // Compatible with the window, not the new memory DC, which is monochrome.
    s.bitmap = CreateCompatibleBitmap(windowDc, kSurfaceWidth, kSurfaceHeight);
    if (s.dc && s.bitmap) {
        SelectObject(s.dc, s.bitmap);
    }
}

void FreeSurface(Surface& s) {
    // Deleting the DC first releases the selection, so the bitmap can go next.
    if (s.dc) {
        DeleteDC(s.dc);
        s.dc = nullptr;
    }
    if (s.bitmap) {
        DeleteObject(s.bitmap);
        s.bitmap = nullptr;
    }
}
}  // namespace

void CreateSurfaces() {
    WindowDc windowDc(app.mainWindow);
    ExclusiveLock lock(app.surfaceLock);
    MakeSurface(windowDc.Get(), app.displaySurface);
    MakeSurface(windowDc.Get(), app.currentSurface);
    MakeSurface(windowDc.Get(), app.previousSurface);
    app.surfacesLive = true;
}

void DestroySurfaces() {
    ExclusiveLock lock(app.surfaceLock);
    app.surfacesLive = false;
    FreeSurface(app.displaySurface);
    FreeSurface(app.currentSurface);
    FreeSurface(app.previousSurface);
}

void CopySurface(const Surface& from, Surface& to) {
    if (!from.dc || !to.dc || app.imageWidth <= 0 || app.imageHeight <= 0) {
        return;
    }
    BitBlt(to.dc, 0, 0, app.imageWidth, app.imageHeight, from.dc, 0, 0, SRCCOPY);
}

void PresentDisplay() {
    // GetDC does not wait for the window's thread, so this may run on the fetch thread.
    WindowDc windowDc(app.mainWindow);
    if (!windowDc) {
        return;
    }
    ExclusiveLock lock(app.surfaceLock);
    if (!app.surfacesLive || app.imageWidth <= 0 || app.imageHeight <= 0) {
        return;
    }
    BitBlt(windowDc.Get(), 0, 0, app.imageWidth, app.imageHeight, app.displaySurface.dc, 0, 0,
           SRCCOPY);
}

LRESULT PaintMainWindow(HWND window) {
    PaintDc paint(window);
    ExclusiveLock lock(app.surfaceLock);
    if (app.surfacesLive && app.imageWidth > 0 && app.imageHeight > 0) {
        BitBlt(paint.Get(), 0, 0, app.imageWidth, app.imageHeight, app.displaySurface.dc, 0, 0,
               SRCCOPY);
    }
    return 0;
}

}  // namespace torvanel
