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
    // Writes the next frame and counts the bytes the library says it wrote.
    // False when the library reports a failure.
    bool Write(const void* pixels, DWORD bytes);
    void Close();

    bool IsOpen() const { return compressed_.Valid(); }
    const char* Path() const { return path_; }
    const char* Folder() const { return folder_; }
    const MovieFill& Fill() const { return fill_; }
    // The most a frame can take in the file: what the compressor announces
    // for its output, and never less than the frame handed to it.
    uint64_t LargestFrame() const { return largestFrame_; }

private:
    bool ClaimName(const char* stamped);
    void Discard();

    char path_[kTextSize] = {};
    char folder_[kTextSize] = {};
    MovieFill fill_{};
    uint64_t largestFrame_ = 0;
    Scoped<PAVIFILE, AviFileTraits> file_;
    Scoped<PAVISTREAM, AviStreamTraits> stream_;
    Scoped<PAVISTREAM, AviStreamTraits> compressed_;
};

// Whether the disk that holds folder has needed bytes free for this user.
// False when the disk cannot be asked (the folder is gone, a network folder
// was lost): nothing more can be written there either.
bool DiskHasRoom(const char* folder, uint64_t needed);

// What became of a frame. Every outcome but Written ends the recording, with
// its files complete.
enum class FrameWrite {
    Written,
    NoRoom,      // the disk could not hold the frame and the close
    Failed,      // the library reported a failed write
    NoNextFile,  // the file that was to take over could not be made
};

// A recording's movie: one file after another, each closed before it could
// pass fileLimit (with its index) and followed by a file named by the time it
// starts, made as a new recording's is, so nothing is ever overwritten.
class MovieSeries {
public:
    MovieSeries(const AVISTREAMINFOA& header, const AVICOMPRESSOPTIONS& options,
                const BITMAPINFOHEADER& format, uint64_t fileLimit = kMovieFileLimit);
    MovieSeries(const MovieSeries&) = delete;
    MovieSeries& operator=(const MovieSeries&) = delete;

    // The first file. Needs the AVI library started on this thread.
    MovieOpen Open(const char* stamped);
    // Writes a frame into the current file, or, when it might not fit there,
    // completes that file and writes the frame as frame 0 of the next one.
    // Before each frame the disk must have room for it and for the close.
    FrameWrite Write(const void* pixels, DWORD bytes);
    // Completes the current file; nothing more is written.
    void Close() { file_.Close(); }
    const MovieFile& Current() const { return file_; }

private:
    bool StartNextFile();

    AVISTREAMINFOA header_;
    AVICOMPRESSOPTIONS options_;  // lpParms points into the caller's choice record
    BITMAPINFOHEADER format_;
    uint64_t limit_;
    MovieFile file_;
};

}  // namespace torvanel
