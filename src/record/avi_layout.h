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

// ----- How far a movie file may grow -----
//
// The AVI file library keeps file positions in signed 32-bit numbers (a seek
// past 2^31 fails, and the file it was writing is then ruined), and readers
// take the RIFF size and the index offsets as signed too: a movie file, with
// everything its close adds, has to end below 2^31 bytes.
constexpr uint64_t kLargestAviFile = 0x7FFFFFFF;
// Kept free below that for what the count below cannot see: another version
// of the library padding its headers or chunks otherwise, a compressor whose
// frame outgrows the size it announced. Less than 1 % of a file.
constexpr uint64_t kMovieFileMargin = uint64_t{16} << 20;
constexpr uint64_t kMovieFileLimit = kLargestAviFile - kMovieFileMargin;

// The library's layout, as measured from the files it writes: the headers in
// an area padded to 2 KiB before the first frame; each frame one chunk (an
// 8-byte header, the data, a pad byte after odd data); at the close the
// headers rewritten in place, then the "idx1" index (an 8-byte header and 16
// bytes a frame) and 20 zero bytes after the RIFF form.
constexpr uint64_t kAviHeaderArea = 2048;
constexpr uint64_t kAviChunkHeader = 8;
constexpr uint64_t kAviIndexEntry = 16;
constexpr uint64_t kAviCloseTail = 20;

// Free disk space kept beyond what a frame and the close need: the file
// system rounds each write up to whole clusters and keeps records of its own.
constexpr uint64_t kMovieDiskSlack = uint64_t{1} << 20;

// What a movie file holds so far.
struct MovieFill {
    uint64_t headerBytes;  // the header area
    uint64_t bytes;        // the header area and every frame's chunk
    uint32_t frames;
};

// A file with no frame yet. The compressor's own settings, stored among the
// headers, can push the header area past 2 KiB: counted rounded up to 2 KiB.
MovieFill EmptyMovieFill(uint32_t compressorStateBytes);

// One frame's chunk: header, data and the pad after odd data.
uint64_t FrameChunkBytes(uint64_t dataBytes);

// What the close appends for a file of that many frames: index and tail.
uint64_t MovieCloseBytes(uint64_t frames);

// The file's size once closed.
uint64_t ClosedMovieBytes(const MovieFill& fill);

// Counts a frame of dataBytes into the file.
void AddMovieFrame(MovieFill& fill, uint64_t dataBytes);

// Whether a further frame of at most largestFrame bytes keeps the closed file
// at or below limit. False too when the frame index would pass 2^31.
bool NextFrameFits(const MovieFill& fill, uint64_t largestFrame, uint64_t limit = kMovieFileLimit);

// Free disk space needed before the next frame goes in: its chunk, everything
// the close writes (the index, the tail and the header area, which the library
// may leave unwritten until then) and the slack.
uint64_t DiskBytesForNextFrame(const MovieFill& fill, uint64_t largestFrame);

// The same when the frame opens the file next after closing: first the
// closing file's close (its index, tail and header area), then the new file's
// first frame and close.
uint64_t DiskBytesToGoOnInNextFile(const MovieFill& closing, const MovieFill& next,
                                   uint64_t largestFrame);

// The folder of a movie path, with its trailing separator ("C:\cam\avi\").
// The last backslash or slash is the separator: the file names the recorder
// makes are plain ASCII, so no double-byte character can end in that byte
// after it. False, with out empty, when there is none or it does not fit.
bool MovieFolder(const char* path, char* out, size_t outSize);

// The n-th candidate name for a movie whose stamped path is stamped: n 1 is the
// stamped path itself, n 2 and on insert "_n" before the extension
// ("...\avi\040203090507_2.avi"). False, with out empty, when it does not fit.
bool NumberedMoviePath(const char* stamped, int n, char* out, size_t outSize);

}  // namespace torvanel
