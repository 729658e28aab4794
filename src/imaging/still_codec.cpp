#include "imaging/still_codec.h"

namespace torvanel {

void LoadImageIntoDisplay(const char* /*path*/) {}

void SaveSnapshotJpeg(const char* /*path*/) {}

int FindEncoderClsid(const wchar_t* /*mimeType*/, CLSID* /*clsid*/) { return -1; }

}  // namespace torvanel
