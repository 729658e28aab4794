// Picture files to pixels and pixels to JPEG files, through GDI+.
#pragma once

#include <windows.h>

namespace torvanel {

// Decodes path at its natural size into the top-left corner of displaySurface,
// stores its size in imageWidth x imageHeight (0 x 0 when it cannot be decoded)
// and has the main window repaint that rectangle.
void LoadImageIntoDisplay(const char* path);

// Writes the client-area part of displaySurface as a JPEG file at path.
void SaveSnapshotJpeg(const char* path);

// Index of the first encoder whose MIME type equals mimeType exactly, with its
// class id in *clsid; -1 (clsid untouched) when none matches.
int FindEncoderClsid(const wchar_t* mimeType, CLSID* clsid);

}  // namespace torvanel
