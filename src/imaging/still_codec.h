// Picture files to pixels and pixels to JPEG files, through GDI+.
#pragma once

#include <windows.h>

#include "imaging/surfaces.h"

namespace torvanel {

// Decodes path at its natural size into the top-left corner of displaySurface,
// stores and returns its size (0 x 0 when it cannot be decoded, the surface
// then untouched) and has the main window repaint that rectangle.
PictureSize LoadImageIntoDisplay(const char* path);

// Writes the client-area part of displaySurface as a JPEG file at path. The
// file appears whole or not at all.
void SaveSnapshotJpeg(const char* path);

// Index of the first encoder whose MIME type equals mimeType exactly, with its
// class id in *clsid; -1 (clsid untouched) when none matches.
int FindEncoderClsid(const wchar_t* mimeType, CLSID* clsid);

}  // namespace torvanel
