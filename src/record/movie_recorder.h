// Time-lapse movie recorders, one thread each.
#pragma once

#include <windows.h>

#include <vfw.h>

#include <cstdint>
#include <optional>

#include "app/app_state.h"
#include "base/scoped_win.h"
#include "record/avi_layout.h"

namespace torvanel {

// Runs one recording from start to end on the calling thread.
void RecorderLoop();

// Thread procedure for a recorder: RecorderLoop, then 0.
DWORD WINAPI RecorderThread(void* unused);

// The stop command: clears recording and ends every running recorder's pause
// at once, including recorders still in the compressor dialog.
void StopRecording();

// One recorder's claim on recording. Made when the recorder starts: sets
// recording to 1 and gives the recorder its own stop event, which
// StopRecording sets, so a stop is never undone by a start that follows it
// before an older recorder looks.
class RecorderTicket {
public:
    RecorderTicket();
    ~RecorderTicket();
    RecorderTicket(const RecorderTicket&) = delete;
    RecorderTicket& operator=(const RecorderTicket&) = delete;

    bool Valid() const { return stop_.Valid(); }
    // recording is set, no stop came since this recorder started, no quit.
    bool Running() const;
    // Waits milliseconds (0 or less: not at all); false when a stop or the quit
    // ended the wait or had already come.
    bool Pause(int32_t milliseconds) const;

private:
    ScopedHandle stop_;
};

// AVIFileInit and AVIFileExit for one recording.
class AviLibrary {
public:
    AviLibrary() { AVIFileInit(); }
    ~AviLibrary() { AVIFileExit(); }
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
};

// The source of a recording's frames: the main window's DC as reference, a frame
// bitmap compatible with it and the frame buffer (bitmap file image in memory).
class FrameGrabber {
public:
    FrameGrabber() = default;
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    bool Open(HWND window, const FrameLayout& layout);
    // Copies the frame's part of displaySurface (black beyond it) and converts
    // it into the buffer's 24-bit rows. False when the surfaces are gone or a
    // step failed: the recording then ends.
    bool Capture();
    const unsigned char* Buffer() const { return buffer_; }
    const unsigned char* Pixels() const { return buffer_ + kFrameHeadersSize; }

private:
    FrameLayout layout_{};
    ScopedGlobal memory_;
    unsigned char* buffer_ = nullptr;
    // Declared so that they go in the order DC, bitmap, buffer.
    ScopedBitmap bitmap_;
    std::optional<WindowDc> reference_;
};

// What became of a movie file's set-up.
enum class MovieOpen {
    Created,
    NoName,      // no free name, the path is too long or the folder is missing
    File,        // AVIFileOpenA failed
    Stream,      // AVIFileCreateStreamA failed
    Compressor,  // AVIMakeCompressedStream failed
    Format,      // AVIStreamSetFormat failed (e.g. a compressor that takes no 24-bit frames)
};

struct AviFileTraits {
    static PAVIFILE Empty() { return nullptr; }
    static void Close(PAVIFILE f) { AVIFileRelease(f); }
};
struct AviStreamTraits {
    static PAVISTREAM Empty() { return nullptr; }
    static void Close(PAVISTREAM s) { AVIStreamRelease(s); }
};

// One movie file: the file, its stream and the compressed stream over it,
// released in that reverse order, which completes the file on disk.
class MovieFile {
public:
    MovieFile() = default;
    ~MovieFile() { Close(); }
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    // Creates the file under the first free name for stamped (see
    // NumberedMoviePath), so two recorders of the same second never share a
    // file, and sets up its streams. A failed step removes the file again.
    // Needs the AVI library started on this thread.
    MovieOpen Create(const char* stamped, const AVISTREAMINFOA& header,
                     const AVICOMPRESSOPTIONS& options, const BITMAPINFOHEADER& format);
    bool Write(LONG index, const void* pixels, DWORD bytes);
    void Close();
    const char* Path() const { return path_; }

private:
    bool ClaimName(const char* stamped);
    void Discard();

    char path_[kTextSize] = {};
    Scoped<PAVIFILE, AviFileTraits> file_;
    Scoped<PAVISTREAM, AviStreamTraits> stream_;
    Scoped<PAVISTREAM, AviStreamTraits> compressed_;
};

}  // namespace torvanel
