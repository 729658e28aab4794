// One movie frame with the full-frames choice: the copy out of the display
// surface, the conversion to 24-bit rows and the compressed write, beside the
// floor of writing the same bytes to a file with one WriteFile, and beside the
// AVI library's own cost of writing them to a plain (uncompressed) stream.
#include <windows.h>

#include <vfw.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/stamped_path.h"
#include "base/scoped_win.h"
#include "bench_util.h"
#include "record/avi_layout.h"
#include "record/movie_recorder.h"

using namespace torvanel;

namespace {

constexpr int kFrames = 60;
constexpr SIZE kLargest{3840, 2160};

// Fewer frames for the large sizes, so a run writes a few hundred MB at most.
int FramesFor(const FrameLayout& layout) {
    const int frames = static_cast<int>(60.0 * 640 * 480 / (layout.width * layout.height));
    return frames < 10 ? 10 : (frames > kFrames ? kFrames : frames);
}
constexpr int kFramesPerFile = 10;
constexpr int kSplitFiles = 21;
constexpr int kCloses = 10;

struct Figures {
    double capture;   // copy and conversion
    double write;     // compressed write
    double frame;     // both
    double floor;     // one WriteFile of the pixel bytes
    double aviFloor;  // AVIStreamWrite of the pixel bytes to a plain stream
};

// The folder the files go into, ending in a separator.
std::string Folder() {
    char buffer[MAX_PATH] = {};
    if (GetEnvironmentVariableA("TORVANEL_BENCH_WORK", buffer, MAX_PATH) == 0) {
        GetTempPathA(MAX_PATH, buffer);
    }
    std::string folder = buffer;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') {
        folder += '\\';
    }
    return folder;
}

// The full-frames choice as the compressor dialog hands it back by default.
COMPVARS FullFramesChoice() {
    COMPVARS choice = MakeInitialChoice();
    choice.lKey = -1;
    choice.lDataRate = 300;
    return choice;
}

bool MeasureFrames(HWND window, const FrameLayout& layout, const std::string& path, Figures& f) {
    FrameGrabber grabber;
    if (!grabber.Open(window, layout)) {
        return false;
    }
    AviLibrary library;
    const COMPVARS choice = FullFramesChoice();
    MovieFile movie;
    DeleteFileA(path.c_str());
    if (movie.Create(path.c_str(), MakeStreamInfo(layout, MakeStreamRate(5, 1)),
                     MakeCompressOptions(choice), StreamFormat(layout)) != MovieOpen::Created) {
        return false;
    }
    std::vector<double> capture, write, frame;
    for (LONG i = 0; i < FramesFor(layout); ++i) {
        const double t0 = bench::NowMs();
        if (!grabber.Capture()) {
            return false;
        }
        const double t1 = bench::NowMs();
        if (!movie.Write(grabber.Pixels(), layout.pixelBytes)) {
            return false;
        }
        const double t2 = bench::NowMs();
        capture.push_back(t1 - t0);
        write.push_back(t2 - t1);
        frame.push_back(t2 - t0);
    }
    movie.Close();
    DeleteFileA(path.c_str());
    f.capture = bench::Median(capture);
    f.write = bench::Median(write);
    f.frame = bench::Median(frame);
    return true;
}

struct SplitFigures {
    double frame;      // median of the frames that go into an open file
    double opening;    // median of the frames that open a new file
    double worst;      // the slowest of those
    double close;      // completing a file of kFramesPerFile frames (median)
    double roomCheck;  // asking the disk for room, once
    int files;
};

// The frames of a recording whose files take kFramesPerFile frames each, so the
// frame that opens a new file (closing the last one, claiming a name, setting
// up the streams) is timed beside the others, in the same run.
bool MeasureSplits(HWND window, const FrameLayout& layout, const std::string& folder,
                   SplitFigures& f) {
    // The files are named as the tool names them: below workDir, a full path.
    const DWORD length = GetFullPathNameA(folder.c_str(), kTextSize, app.workDir, nullptr);
    if (length == 0 || length >= kTextSize) {
        return false;
    }
    const size_t end = std::strlen(app.workDir);
    if (end > 0 && app.workDir[end - 1] == '\\') {
        app.workDir[end - 1] = '\0';
    }
    const std::string avi = std::string(app.workDir) + "\\avi";
    CreateDirectoryA(avi.c_str(), nullptr);
    FrameGrabber grabber;
    if (!grabber.Open(window, layout)) {
        return false;
    }
    AviLibrary library;
    const COMPVARS choice = FullFramesChoice();
    MovieFill full = EmptyMovieFill(0);
    for (int i = 0; i < kFramesPerFile; ++i) {
        AddMovieFrame(full, layout.pixelBytes);
    }
    std::vector<std::string> files;
    std::vector<double> frames, openings;
    {
        MovieSeries series(MakeStreamInfo(layout, MakeStreamRate(5, 1)),
                           MakeCompressOptions(choice), StreamFormat(layout),
                           ClosedMovieBytes(full));
        char stamped[kTextSize];
        if (!StampedPath(StampKind::Movie, stamped) || series.Open(stamped) != MovieOpen::Created) {
            return false;
        }
        files.push_back(series.Current().Path());
        for (int i = 0; i < kFramesPerFile * kSplitFiles; ++i) {
            const double t0 = bench::NowMs();
            if (!grabber.Capture() ||
                series.Write(grabber.Pixels(), layout.pixelBytes) != FrameWrite::Written) {
                return false;
            }
            const double t1 = bench::NowMs();
            if (files.back() != series.Current().Path()) {
                files.push_back(series.Current().Path());
                openings.push_back(t1 - t0);
            } else {
                frames.push_back(t1 - t0);
            }
        }
        std::vector<double> checks;
        for (int i = 0; i < kFrames; ++i) {
            const double t0 = bench::NowMs();
            DiskHasRoom(series.Current().Folder(), 1);
            checks.push_back(bench::NowMs() - t0);
        }
        f.roomCheck = bench::Median(checks);
    }
    f.files = static_cast<int>(files.size());
    // What a stop, a quit or the end of the session waits for once the frame
    // under way is written: completing a file.
    std::vector<double> closes;
    for (int k = 0; k < kCloses; ++k) {
        char stamped[kTextSize];
        MovieFile movie;
        if (!StampedPath(StampKind::Movie, stamped) ||
            movie.Create(stamped, MakeStreamInfo(layout, MakeStreamRate(5, 1)),
                         MakeCompressOptions(choice), StreamFormat(layout)) != MovieOpen::Created) {
            return false;
        }
        files.push_back(movie.Path());
        for (int i = 0; i < kFramesPerFile; ++i) {
            if (!grabber.Capture() || !movie.Write(grabber.Pixels(), layout.pixelBytes)) {
                return false;
            }
        }
        const double t0 = bench::NowMs();
        movie.Close();
        closes.push_back(bench::NowMs() - t0);
    }
    f.close = bench::Median(closes);
    for (const std::string& file : files) {
        DeleteFileA(file.c_str());
    }
    RemoveDirectoryA(avi.c_str());
    f.frame = bench::Median(frames);
    f.opening = bench::Median(openings);
    f.worst = openings.empty() ? 0.0 : *std::max_element(openings.begin(), openings.end());
    return !openings.empty();
}

bool MeasureAviFloor(const FrameLayout& layout, const std::string& path, Figures& f) {
    AviLibrary library;
    DeleteFileA(path.c_str());
    std::vector<double> samples;
    {
        PAVIFILE file = nullptr;
        if (AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_SHARE_DENY_NONE | OF_CREATE, nullptr) !=
            0) {
            return false;
        }
        Scoped<PAVIFILE, AviFileTraits> fileOwner(file);
        AVISTREAMINFOA header = MakeStreamInfo(layout, MakeStreamRate(5, 1));
        PAVISTREAM stream = nullptr;
        if (AVIFileCreateStreamA(file, &stream, &header) != 0) {
            return false;
        }
        Scoped<PAVISTREAM, AviStreamTraits> streamOwner(stream);
        BITMAPINFOHEADER format = StreamFormat(layout);
        if (AVIStreamSetFormat(stream, 0, &format, sizeof format) != 0) {
            return false;
        }
        std::vector<unsigned char> bytes(layout.pixelBytes, 0x5A);
        for (LONG i = 0; i < FramesFor(layout); ++i) {
            const double t0 = bench::NowMs();
            if (AVIStreamWrite(stream, i, 1, bytes.data(), static_cast<LONG>(layout.pixelBytes),
                               AVIIF_KEYFRAME, nullptr, nullptr) != 0) {
                return false;
            }
            samples.push_back(bench::NowMs() - t0);
        }
    }
    DeleteFileA(path.c_str());
    f.aviFloor = bench::Median(samples);
    return true;
}

bool MeasureFloor(const FrameLayout& layout, const std::string& path, Figures& f) {
    std::vector<unsigned char> bytes(layout.pixelBytes, 0x5A);
    std::vector<double> samples;
    {
        ScopedFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        for (int i = 0; i < FramesFor(layout); ++i) {
            DWORD written = 0;
            const double t0 = bench::NowMs();
            if (!WriteFile(file.Get(), bytes.data(), layout.pixelBytes, &written, nullptr) ||
                written != layout.pixelBytes) {
                return false;
            }
            samples.push_back(bench::NowMs() - t0);
        }
    }
    DeleteFileA(path.c_str());
    f.floor = bench::Median(samples);
    return true;
}

}  // namespace

int main() {
    // Never shown: only its DC is the reference, as the main window's is.
    HWND window = bench::MakeBenchWindow(false);
    if (!window) {
        std::printf("no window\n");
        return 2;
    }
    app.mainWindow = window;
    app.surfaces.CreateSurfaces(window);
    // A picture with detail everywhere, so no copy can take a short cut, large
    // enough for every frame size.
    const PictureSize shown = app.surfaces.DrawPicture([](FrameSurfaces::Canvas& canvas) {
        HDC dc = canvas.Prepare(kLargest.cx, kLargest.cy);
        for (int y = 0; dc && y < kLargest.cy; y += 8) {
            for (int x = 0; x < kLargest.cx; x += 8) {
                Scoped<HBRUSH, GdiObjectTraits<HBRUSH>> brush(
                    CreateSolidBrush(RGB(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF)));
                RECT r{x, y, x + 8, y + 8};
                FillRect(dc, &r, brush.Get());
            }
        }
        return dc ? PictureSize{kLargest.cx, kLargest.cy} : PictureSize{0, 0};
    });
    if (shown.width != kLargest.cx) {
        std::printf("no surfaces\n");
        return 2;
    }

    const std::string folder = Folder();
    const SIZE sizes[] = {{640, 480}, {1024, 768}, {1920, 1080}, kLargest};
    std::printf("%-10s %12s %12s %12s %12s %12s %8s\n", "frame", "copy+conv", "write", "frame",
                "floor", "avi floor", "ratio");
    int status = 0;
    for (const SIZE& s : sizes) {
        FrameLayout layout;
        Figures f{};
        if (!MakeFrameLayout(s.cx, s.cy, layout) ||
            !MeasureFrames(window, layout, folder + "bench_recorder.avi", f) ||
            !MeasureFloor(layout, folder + "bench_recorder.raw", f) ||
            !MeasureAviFloor(layout, folder + "bench_recorder_plain.avi", f)) {
            std::printf("%ldx%ld: a step failed\n", s.cx, s.cy);
            status = 1;
            continue;
        }
        char name[16];
        std::snprintf(name, sizeof name, "%ldx%ld", s.cx, s.cy);
        std::printf("%-10s %9.3f ms %9.3f ms %9.3f ms %9.3f ms %9.3f ms %7.2fx\n", name, f.capture,
                    f.write, f.frame, f.floor, f.aviFloor, f.floor > 0 ? f.frame / f.floor : 0.0);
    }
    std::printf(
        "medians of up to %d frames and writes each (fewer for the large sizes); ratio: frame / "
        "floor (aim 3x)\n",
        kFrames);

    std::printf(
        "\nfiles of %d frames: a frame, a frame that opens the next file (median and "
        "slowest), and the ratio to a frame (aim at most 5x)\n",
        kFramesPerFile);
    // Many small files: the sizes a split costs most at relative to a frame.
    const SIZE splitSizes[] = {{320, 240}, {640, 480}, {1024, 768}};
    for (const SIZE& s : splitSizes) {
        FrameLayout layout;
        SplitFigures f{};
        if (!MakeFrameLayout(s.cx, s.cy, layout) || !MeasureSplits(window, layout, folder, f)) {
            std::printf("%ldx%ld: a step failed\n", s.cx, s.cy);
            status = 1;
            continue;
        }
        std::printf(
            "%ldx%ld: frame %.3f ms, opening frame %.3f ms (slowest %.3f ms) over %d "
            "files: %.2fx (slowest %.2fx); completing a file %.3f ms; a room check "
            "%.3f ms\n",
            s.cx, s.cy, f.frame, f.opening, f.worst, f.files,
            f.frame > 0 ? f.opening / f.frame : 0.0, f.frame > 0 ? f.worst / f.frame : 0.0, f.close,
            f.roomCheck);
    }
    app.surfaces.DestroySurfaces();
    DestroyWindow(window);
    return status;
}
