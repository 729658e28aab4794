// The three 1024 x 768 off-screen surfaces and the copies between them.
#pragma once

#include <windows.h>

#include "app/app_state.h"

namespace torvanel {

// Made once at window creation, freed at its destruction. Both take the surface
// guard; after DestroySurfaces, surfacesLive is false.
void CreateSurfaces();
void DestroySurfaces();

// Copies the imageWidth x imageHeight rectangle at (0, 0). The caller holds
// app.surfaceLock when displaySurface is the source.
void CopySurface(const Surface& from, Surface& to);

// Copies the picture rectangle of displaySurface onto the window now (fetch thread).
void PresentDisplay();

// WM_PAINT: copies the picture rectangle onto the paint DC.
LRESULT PaintMainWindow(HWND window);

}  // namespace torvanel
