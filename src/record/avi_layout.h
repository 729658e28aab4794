// The values a recording hands to the AVI file library and the compressor
// manager, computed from plain numbers so they can be checked without a window.
#pragma once

#include <windows.h>

#include <vfw.h>

#include <cstddef>
#include <cstdint>

namespace torvanel {

constexpr DWORD kFrameHeadersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);  // 54

// One frame's geometry: 24-bit rows, each padded to a multiple of 4 bytes.
struct FrameLayout {
    LONG width;
    LONG height;
    DWORD stride;       // bytes per row
    DWORD pixelBytes;   // stride x height
    DWORD bufferBytes;  // headers + pixels
};

// False for an empty frame (a width or height of 0 or less, e.g. a minimised
// window) and for one whose buffer would not fit the 32-bit sizes of the
// platform calls.
bool MakeFrameLayout(LONG width, LONG height, FrameLayout& out);

// The bitmap file image at the start of the frame buffer: file header, then the
// info header (bottom-up rows, 24 bits, BI_RGB, sizes left 0). buffer holds at
// least kFrameHeadersSize bytes; it need not be aligned.
void WriteFrameHeaders(const FrameLayout& layout, unsigned char* buffer);

// The info header of the frame buffer, as GetDIBits is given it.
BITMAPINFOHEADER FrameInfoHeader(const FrameLayout& layout);

// The stream format: the info header with biSizeImage set to the pixel bytes.
BITMAPINFOHEADER StreamFormat(const FrameLayout& layout);

// Frames per scale seconds. A Frame or PerSec of 0 or less, which no player
// can play, takes its default instead.
struct StreamRate {
    DWORD rate;   // Frame
    DWORD scale;  // PerSec
};
StreamRate MakeStreamRate(int32_t frame, int32_t perSec);

// The video stream's header: "vids", "DIB " until a compressor is chosen.
AVISTREAMINFOA MakeStreamInfo(const FrameLayout& layout, StreamRate rate);

// The choice record before the dialog, so it opens on the full-frames choice.
COMPVARS MakeInitialChoice();

// The compression options from the user's choice. The dialog counts the data
// rate in kilobytes per second, the options in bytes per second.
AVICOMPRESSOPTIONS MakeCompressOptions(const COMPVARS& choice);

// The n-th candidate name for a movie whose stamped path is stamped: n 1 is the
// stamped path itself, n 2 and on insert "_n" before the extension
// ("...\avi\040203090507_2.avi"). False, with out empty, when it does not fit.
bool NumberedMoviePath(const char* stamped, int n, char* out, size_t outSize);

}  // namespace torvanel
