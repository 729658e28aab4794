#include "record/movie_recorder.h"

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "app/stamped_path.h"
#include "app/workers.h"

namespace torvanel {

namespace {

// The stop events of the recorders now running. Leaked on purpose, like the
// worker list: a recorder still in the compressor dialog may outlive statics.
SRWLOCK ticketsLock = SRWLOCK_INIT;
std::vector<HANDLE>* tickets = nullptr;

std::vector<HANDLE>& Tickets() {
    if (!tickets) {
        tickets = new std::vector<HANDLE>();
    }
    return *tickets;
}

// A name taken by another recorder this second, or left by an earlier run, is
// passed over; beyond this many tries the recording is refused.
constexpr int kMaxNumberedNames = 99;

// The compressor manager's dialog, and the release of what it leaves in the
// choice record.
class CompressorChoice {
public:
    CompressorChoice() : vars_(MakeInitialChoice()) {}
    ~CompressorChoice() {
        if (shown_) {
            ICCompressorFree(&vars_);
        }
    }
    CompressorChoice(const CompressorChoice&) = delete;
    CompressorChoice& operator=(const CompressorChoice&) = delete;

    // No owner, so the main window goes on while the dialog is open.
    bool Choose(BITMAPINFOHEADER& input) {
        shown_ = true;
        return ICCompressorChoose(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, &input,
                                  nullptr, &vars_, nullptr) != FALSE;
    }
    const COMPVARS& Get() const { return vars_; }

private:
    COMPVARS vars_;
    bool shown_ = false;
};

}  // namespace

RecorderTicket::RecorderTicket() : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (!stop_) {
        return;
    }
    ExclusiveLock lock(ticketsLock);
    Tickets().push_back(stop_.Get());
    app.recording = 1;
}

RecorderTicket::~RecorderTicket() {
    if (!stop_) {
        return;
    }
    ExclusiveLock lock(ticketsLock);
    std::vector<HANDLE>& list = Tickets();
    list.erase(std::remove(list.begin(), list.end(), stop_.Get()), list.end());
}

bool RecorderTicket::Running() const {
    return stop_ && app.recording.load() != 0 && app.quitRequested.load() == 0 &&
           WaitForSingleObject(stop_.Get(), 0) == WAIT_TIMEOUT;
}

bool RecorderTicket::Pause(int32_t milliseconds) const {
    if (!stop_) {
        return false;
    }
    HANDLE events[2] = {stop_.Get(), app.quitEvent};
    const DWORD count = app.quitEvent ? 2 : 1;
    const DWORD wait = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
    return WaitForMultipleObjects(count, events, FALSE, wait) == WAIT_TIMEOUT;
}

void StopRecording() {
    ExclusiveLock lock(ticketsLock);
    app.recording = 0;
    for (HANDLE stop : Tickets()) {
        SetEvent(stop);
    }
}

bool FrameGrabber::Open(HWND window, const FrameLayout& layout) {
    layout_ = layout;
    memory_.Reset(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, layout.bufferBytes));
    if (!memory_) {
        return false;
    }
    // A fixed block's handle is its address.
    buffer_ = static_cast<unsigned char*>(static_cast<void*>(memory_.Get()));
    WriteFrameHeaders(layout, buffer_);

    reference_.emplace(window);
    if (!*reference_) {
        return false;
    }
    bitmap_.Reset(CreateCompatibleBitmap(reference_->Get(), layout.width, layout.height));
    return bitmap_.Valid();
}

bool FrameGrabber::Capture() {
    if (!bitmap_) {
        return false;
    }
    {
        ScopedMemoryDc dc(CreateCompatibleDC(reference_->Get()));
        SelectGuard select(dc.Get(), bitmap_.Get());
        // Only the copy holds the surfaces' guard, so the fetch thread waits
        // for one copy at most; beyond the display surface the frame is black.
        if (!select.Selected() ||
            !app.surfaces.CopyDisplay(dc.Get(), layout_.width, layout_.height)) {
            return false;
        }
    }
    // The bitmap is selected into no DC now, as GetDIBits requires. An aligned
    // copy of the info header is passed: the one in the buffer is off alignment.
    BITMAPINFOHEADER info = FrameInfoHeader(layout_);
    const int rows = GetDIBits(reference_->Get(), bitmap_.Get(), 0,
                               static_cast<UINT>(layout_.height), buffer_ + kFrameHeadersSize,
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    return rows == layout_.height;
}

MovieOpen MovieFile::Create(const char* stamped, const AVISTREAMINFOA& header,
                            const AVICOMPRESSOPTIONS& options, const BITMAPINFOHEADER& format) {
    Close();
    if (!ClaimName(stamped)) {
        return MovieOpen::NoName;
    }
    if (!MovieFolder(path_, folder_, sizeof folder_)) {
        Discard();
        return MovieOpen::NoName;
    }
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path_, OF_WRITE | OF_SHARE_DENY_NONE | OF_CREATE, nullptr) != 0) {
        Discard();
        return MovieOpen::File;
    }
    file_.Reset(file);

    AVISTREAMINFOA streamHeader = header;
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamA(file_.Get(), &stream, &streamHeader) != 0) {
        Discard();
        return MovieOpen::Stream;
    }
    stream_.Reset(stream);

    AVICOMPRESSOPTIONS compressOptions = options;
    PAVISTREAM compressed = nullptr;
    if (AVIMakeCompressedStream(&compressed, stream_.Get(), &compressOptions, nullptr) != 0) {
        Discard();
        return MovieOpen::Compressor;
    }
    compressed_.Reset(compressed);

    BITMAPINFOHEADER streamFormat = format;
    if (AVIStreamSetFormat(compressed_.Get(), 0, &streamFormat, sizeof streamFormat) != 0) {
        Discard();
        return MovieOpen::Format;
    }
    // A compressor announces the largest frame it can make as the stream's
    // buffer size; the full-frames choice announces nothing and passes the
    // frames on as they are.
    AVISTREAMINFOA info{};
    largestFrame_ = format.biSizeImage;
    if (AVIStreamInfoA(compressed_.Get(), &info, sizeof info) == 0 &&
        info.dwSuggestedBufferSize > largestFrame_) {
        largestFrame_ = info.dwSuggestedBufferSize;
    }
    fill_ = EmptyMovieFill(options.cbParms);
    return MovieOpen::Created;
}

bool MovieFile::Write(const void* pixels, DWORD bytes) {
    if (!compressed_ || bytes > 0x7FFFFFFFu) {
        return false;
    }
    // A compressor's frames vary in size: the library's count is what the
    // file takes. Where it gives none, the largest frame is counted.
    LONG written = -1;
    if (AVIStreamWrite(compressed_.Get(), static_cast<LONG>(fill_.frames), 1,
                       const_cast<void*>(pixels), static_cast<LONG>(bytes), AVIIF_KEYFRAME, nullptr,
                       &written) != 0) {
        return false;
    }
    AddMovieFrame(fill_, written >= 0 ? static_cast<uint64_t>(written)
                                      : std::max<uint64_t>(largestFrame_, bytes));
    return true;
}

void MovieFile::Close() {
    compressed_.Reset();
    stream_.Reset();
    file_.Reset();
}

// Creating the file with CREATE_NEW takes the name atomically, against the
// other recorders and any file already there; the AVI library then rewrites it.
bool MovieFile::ClaimName(const char* stamped) {
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        if (!NumberedMoviePath(stamped, n, path_, sizeof path_)) {
            return false;
        }
        ScopedFile claim(CreateFileA(path_, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (claim) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;  // e.g. no "avi" folder: no name will do
        }
    }
    path_[0] = '\0';
    return false;
}

// A set-up that failed leaves no file behind, not even an empty one.
void MovieFile::Discard() {
    Close();
    if (path_[0] != '\0') {
        DeleteFileA(path_);
        path_[0] = '\0';
    }
}

bool DiskHasRoom(const char* folder, uint64_t needed) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) {
        return false;
    }
    return available.QuadPart >= needed;
}

MovieSeries::MovieSeries(const AVISTREAMINFOA& header, const AVICOMPRESSOPTIONS& options,
                         const BITMAPINFOHEADER& format, uint64_t fileLimit)
    : header_(header), options_(options), format_(format), limit_(fileLimit) {}

MovieOpen MovieSeries::Open(const char* stamped) {
    return file_.Create(stamped, header_, options_, format_);
}

FrameWrite MovieSeries::Write(const void* pixels, DWORD bytes) {
    if (!file_.IsOpen()) {
        return FrameWrite::Failed;
    }
    const uint64_t largest = std::max<uint64_t>(file_.LargestFrame(), bytes);
    const bool next = !NextFrameFits(file_.Fill(), largest, limit_);
    // Under Wine the library reports no failure on a full disk, and writes an
    // index listing frames that are not in the file: the room is made sure of
    // first, for the file the frame goes into and for every close before it.
    const uint64_t needed =
        next ? DiskBytesToGoOnInNextFile(file_.Fill(), EmptyMovieFill(options_.cbParms), largest)
             : DiskBytesForNextFrame(file_.Fill(), largest);
    if (!DiskHasRoom(file_.Folder(), needed)) {
        return FrameWrite::NoRoom;
    }
    if (next && !StartNextFile()) {
        return FrameWrite::NoNextFile;
    }
    return file_.Write(pixels, bytes) ? FrameWrite::Written : FrameWrite::Failed;
}

bool MovieSeries::StartNextFile() {
    file_.Close();
    char stamped[kTextSize];
    if (!StampedPath(StampKind::Movie, stamped)) {
        return false;
    }
    return file_.Create(stamped, header_, options_, format_) == MovieOpen::Created;
}

void RecorderLoop() {
    char stamped[kTextSize];
    if (!StampedPath(StampKind::Movie, stamped)) {
        return;  // the name does not fit: no file, so no recording
    }
    RecorderTicket ticket;
    if (!ticket.Valid()) {
        return;
    }

    RECT client{};
    FrameLayout layout;
    // A minimised window has no client area: nothing to record, no dialog.
    if (!GetClientRect(app.mainWindow, &client) ||
        !MakeFrameLayout(client.right, client.bottom, layout)) {
        return;
    }
    FrameGrabber grabber;
    if (!grabber.Open(app.mainWindow, layout)) {
        return;
    }

    AVISTREAMINFOA header =
        MakeStreamInfo(layout, MakeStreamRate(app.settings.Frame, app.settings.PerSec));
    BITMAPINFOHEADER format = StreamFormat(layout);

    AviLibrary library;
    CompressorChoice choice;
    if (!choice.Choose(format)) {
        return;
    }
    const AVICOMPRESSOPTIONS options = MakeCompressOptions(choice.Get());
    header.fccHandler = choice.Get().fccHandler;

    // From here the quit path waits for this file to be completed.
    if (!BeginRecorderOutput()) {
        return;
    }
    MovieSeries movie(header, options, format);
    if (movie.Open(stamped) != MovieOpen::Created) {
        return;
    }
    while (ticket.Running()) {
        if (!grabber.Capture() ||
            movie.Write(grabber.Pixels(), layout.pixelBytes) != FrameWrite::Written) {
            break;
        }
        if (!ticket.Pause(app.settings.CaptureTime)) {
            break;
        }
    }
    // Leaving releases the streams and the file (completing it), the choice,
    // the library, the DC, the bitmap and the buffer.
}

DWORD WINAPI RecorderThread(void* /*unused*/) {
    RecorderLoop();
    return 0;
}

}  // namespace torvanel
