#include <gtest/gtest.h>

#include <windows.h>

#include <vfw.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/stamped_path.h"
#include "display_bits.h"
#include "record/avi_layout.h"
#include "record/movie_recorder.h"

namespace torvanel {
namespace {

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

TEST(FrameLayout, StrideRoundsRowsUpToFourBytes) {
    const struct {
        LONG width;
        LONG height;
        DWORD stride;
    } cases[] = {{1, 1, 4},     {2, 3, 8},        {3, 2, 12},       {320, 240, 960},
                 {321, 2, 964}, {640, 480, 1920}, {1024, 768, 3072}};
    for (const auto& c : cases) {
        FrameLayout l;
        ASSERT_TRUE(MakeFrameLayout(c.width, c.height, l)) << c.width;
        EXPECT_EQ(c.stride, l.stride) << c.width;
        EXPECT_EQ(c.stride * c.height, l.pixelBytes) << c.width;
        EXPECT_EQ(54 + c.stride * c.height, l.bufferBytes) << c.width;
    }
}

TEST(FrameLayout, RefusesEmptyAndOversizedFrames) {
    const struct {
        LONG width;
        LONG height;
    } cases[] = {{0, 240},       {320, 0},        {-5, 240},
                 {320, -1},      {0x7FFFFFFF, 1},  // 3 bytes a pixel no longer fits 32 bits
                 {30000, 30000},                   // 2.7 GB of rows
                 {1, 0x7FFFFFFF}};
    for (const auto& c : cases) {
        FrameLayout l;
        EXPECT_FALSE(MakeFrameLayout(c.width, c.height, l)) << c.width << " x " << c.height;
    }
}

TEST(FrameLayout, BufferStartsWithABitmapFileImage) {
    FrameLayout l;
    ASSERT_TRUE(MakeFrameLayout(321, 2, l));
    unsigned char b[60];
    std::memset(b, 0xCC, sizeof b);
    WriteFrameHeaders(l, b);

    EXPECT_EQ('B', b[0]);
    EXPECT_EQ('M', b[1]);
    EXPECT_EQ(54u + 964 * 2, Le32(b + 2));  // bfSize: the whole block
    EXPECT_EQ(0u, Le32(b + 6));             // both reserved words
    EXPECT_EQ(54u, Le32(b + 10));           // bfOffBits
    EXPECT_EQ(40u, Le32(b + 14));           // biSize
    EXPECT_EQ(321u, Le32(b + 18));
    EXPECT_EQ(2u, Le32(b + 22));  // positive height: bottom-up rows
    EXPECT_EQ(1u, Le16(b + 26));
    EXPECT_EQ(24u, Le16(b + 28));
    for (int i = 30; i < 54; ++i) {
        EXPECT_EQ(0, b[i]) << "byte " << i;  // BI_RGB, sizes, resolution, colours
    }
    EXPECT_EQ(0xCC, b[54]) << "the headers end at 54";
}

TEST(StreamValues, RateTakesDefaultsForValuesNoPlayerCanUse) {
    const struct {
        int32_t frame;
        int32_t perSec;
        DWORD rate;
        DWORD scale;
    } cases[] = {
        {5, 1, 5, 1},
        {3, 2, 3, 2},
        {0, 1, 5, 1},
        {-4, 2, 5, 2},
        {10, 0, 10, 1},
        {10, -2, 10, 1},
        {0, 0, 5, 1},
        {INT32_MIN, INT32_MIN, 5, 1},
        {INT32_MAX, 7, 0x7FFFFFFF, 7},
    };
    for (const auto& c : cases) {
        StreamRate r = MakeStreamRate(c.frame, c.perSec);
        EXPECT_EQ(c.rate, r.rate) << c.frame << "/" << c.perSec;
        EXPECT_EQ(c.scale, r.scale) << c.frame << "/" << c.perSec;
    }
}

TEST(StreamValues, HeaderAndFormatFromTheFrameAndRate) {
    FrameLayout l;
    ASSERT_TRUE(MakeFrameLayout(321, 240, l));
    const AVISTREAMINFOA s = MakeStreamInfo(l, StreamRate{3, 2});
    EXPECT_EQ(mmioFOURCC('v', 'i', 'd', 's'), s.fccType);
    EXPECT_EQ(mmioFOURCC('D', 'I', 'B', ' '), s.fccHandler);
    EXPECT_EQ(0u, s.dwFlags | s.dwCaps | s.wPriority | s.wLanguage);
    EXPECT_EQ(2u, s.dwScale);
    EXPECT_EQ(3u, s.dwRate);
    EXPECT_EQ(0u, s.dwStart | s.dwLength | s.dwInitialFrames | s.dwSuggestedBufferSize);
    EXPECT_EQ(0xFFFFFFFFu, s.dwQuality);
    EXPECT_EQ(0u, s.dwSampleSize);
    EXPECT_EQ(0, s.rcFrame.left);
    EXPECT_EQ(0, s.rcFrame.top);
    EXPECT_EQ(321, s.rcFrame.right);
    EXPECT_EQ(240, s.rcFrame.bottom);
    EXPECT_EQ(0u, s.dwEditCount | s.dwFormatChangeCount);
    EXPECT_STREQ("Video #1", s.szName);
    for (size_t i = std::strlen("Video #1"); i < sizeof s.szName; ++i) {
        EXPECT_EQ(0, s.szName[i]) << i;
    }

    const BITMAPINFOHEADER f = StreamFormat(l);
    EXPECT_EQ(40u, f.biSize);
    EXPECT_EQ(321, f.biWidth);
    EXPECT_EQ(240, f.biHeight);
    EXPECT_EQ(1, f.biPlanes);
    EXPECT_EQ(24, f.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), f.biCompression);
    EXPECT_EQ(964u * 240, f.biSizeImage);
    EXPECT_EQ(0, f.biXPelsPerMeter | f.biYPelsPerMeter);
    EXPECT_EQ(0u, f.biClrUsed | f.biClrImportant);
}

TEST(StreamValues, ChoiceBeforeTheDialogOpensOnFullFrames) {
    const COMPVARS c = MakeInitialChoice();
    // The dialog refuses a record of another size; a 32-bit build's is 64 bytes.
    EXPECT_EQ(static_cast<LONG>(sizeof(COMPVARS)), c.cbSize);
    static_assert(sizeof(void*) != 4 || sizeof(COMPVARS) == 64, "the 32-bit record is 64 bytes");
    EXPECT_EQ(static_cast<DWORD>(ICMF_COMPVARS_VALID), c.dwFlags);
    EXPECT_EQ(mmioFOURCC('D', 'I', 'B', ' '), c.fccHandler);
    EXPECT_EQ(ICQUALITY_DEFAULT, c.lQ);

    COMPVARS rest = c;
    rest.cbSize = 0;
    rest.dwFlags = 0;
    rest.fccHandler = 0;
    rest.lQ = 0;
    const COMPVARS zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &rest, sizeof rest)) << "every other field is 0";
}

TEST(StreamValues, CompressOptionsFromTheChoice) {
    static char state[12];
    const struct {
        const char* what;
        DWORD handler;
        LONG key;
        LONG dataRate;
        LONG quality;
        DWORD flags;
        DWORD bytesPerSecond;
    } cases[] = {
        // What the dialog returns when its default is accepted.
        {"dialog default", mmioFOURCC('D', 'I', 'B', ' '), -1, 300, -1, AVICOMPRESSF_DATARATE,
         300 * 1024},
        {"key frames only", mmioFOURCC('m', 's', 'v', 'c'), 15, 0, 7500, AVICOMPRESSF_KEYFRAMES, 0},
        {"both", mmioFOURCC('c', 'v', 'i', 'd'), 1, 1, -1,
         AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES, 1024},
        {"neither", mmioFOURCC('m', 'r', 'l', 'e'), 0, -5, 0, 0, 0},
        {"rate beyond 32 bits saturates", mmioFOURCC('D', 'I', 'B', ' '), 0, 0x7FFFFFFF, -1,
         AVICOMPRESSF_DATARATE, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        COMPVARS choice = MakeInitialChoice();
        choice.fccHandler = c.handler;
        choice.lKey = c.key;
        choice.lDataRate = c.dataRate;
        choice.lQ = c.quality;
        choice.lpState = state;
        choice.cbState = sizeof state;
        const AVICOMPRESSOPTIONS o = MakeCompressOptions(choice);
        EXPECT_EQ(mmioFOURCC('v', 'i', 'd', 's'), o.fccType) << c.what;
        EXPECT_EQ(c.handler, o.fccHandler) << c.what;
        EXPECT_EQ(static_cast<DWORD>(c.key), o.dwKeyFrameEvery) << c.what;
        EXPECT_EQ(static_cast<DWORD>(c.quality), o.dwQuality) << c.what;
        EXPECT_EQ(c.bytesPerSecond, o.dwBytesPerSecond) << c.what;
        EXPECT_EQ(c.flags, o.dwFlags) << c.what;
        EXPECT_EQ(nullptr, o.lpFormat) << c.what;
        EXPECT_EQ(0u, o.cbFormat) << c.what;
        EXPECT_EQ(static_cast<void*>(state), o.lpParms) << c.what;
        EXPECT_EQ(sizeof state, o.cbParms) << c.what;
        EXPECT_EQ(0u, o.dwInterleaveEvery) << c.what;
    }
}

TEST(MovieNames, LaterCandidatesGetANumberBeforeTheExtension) {
    const char* stamped = "C:\\cam\\avi\\040203090507.avi";
    const struct {
        int n;
        const char* expected;
    } cases[] = {{1, "C:\\cam\\avi\\040203090507.avi"},
                 {2, "C:\\cam\\avi\\040203090507_2.avi"},
                 {12, "C:\\cam\\avi\\040203090507_12.avi"}};
    for (const auto& c : cases) {
        char out[256];
        ASSERT_TRUE(NumberedMoviePath(stamped, c.n, out, sizeof out));
        EXPECT_STREQ(c.expected, out);
    }

    // A stamped path of 255 characters fits; with a number it would not.
    std::string longest = std::string(255 - 17, 'd') + "\\040203090507.avi";
    ASSERT_EQ(255u, longest.size());
    char out[256];
    EXPECT_TRUE(NumberedMoviePath(longest.c_str(), 1, out, sizeof out));
    std::memset(out, 'x', sizeof out);
    EXPECT_FALSE(NumberedMoviePath(longest.c_str(), 2, out, sizeof out));
    EXPECT_EQ('\0', out[0]);
}

// A file of n frames of dataBytes each.
MovieFill FillWith(uint64_t n, uint64_t dataBytes) {
    MovieFill f = EmptyMovieFill(0);
    f.bytes += n * FrameChunkBytes(dataBytes);
    f.frames = static_cast<uint32_t>(n);
    return f;
}

TEST(MovieSplit, FullFramesPerFileAtTheLimit) {
    // The limit stays below 2^31 with its margin, whatever the frame size.
    static_assert(kMovieFileLimit < 0x80000000u, "below 2 GiB");
    const struct {
        LONG width, height;
        uint64_t frames;  // the most one file holds
    } cases[] = {{1, 1, 76096584}, {320, 240, 9246},  {322, 242, 9094}, {640, 480, 2311},
                 {1024, 768, 903}, {1920, 1080, 342}, {4096, 4096, 42}};
    for (const auto& c : cases) {
        FrameLayout l;
        ASSERT_TRUE(MakeFrameLayout(c.width, c.height, l));
        EXPECT_TRUE(NextFrameFits(FillWith(c.frames - 1, l.pixelBytes), l.pixelBytes))
            << c.width << " x " << c.height;
        EXPECT_FALSE(NextFrameFits(FillWith(c.frames, l.pixelBytes), l.pixelBytes))
            << c.width << " x " << c.height;
        EXPECT_LE(ClosedMovieBytes(FillWith(c.frames, l.pixelBytes)), kMovieFileLimit);
    }
}

TEST(MovieSplit, EveryFrameSizeUpTo4096SquaredFillsAFileWithoutPassingTheLimit) {
    for (LONG side = 1; side <= 4096; ++side) {
        for (const SIZE s : {SIZE{side, side}, SIZE{side, 1}, SIZE{1, side}, SIZE{4096, side}}) {
            FrameLayout l;
            ASSERT_TRUE(MakeFrameLayout(s.cx, s.cy, l));
            // The frames that fit, from the closed file's size: every one of
            // them must be let in, and the next one refused.
            const uint64_t perFrame = FrameChunkBytes(l.pixelBytes) + kAviIndexEntry;
            const uint64_t fixed = EmptyMovieFill(0).bytes + MovieCloseBytes(0);
            const uint64_t most = (kMovieFileLimit - fixed) / perFrame;
            ASSERT_GE(most, 1u) << s.cx << " x " << s.cy;
            const MovieFill full = FillWith(most, l.pixelBytes);
            ASSERT_TRUE(NextFrameFits(FillWith(most - 1, l.pixelBytes), l.pixelBytes))
                << s.cx << " x " << s.cy;
            ASSERT_FALSE(NextFrameFits(full, l.pixelBytes)) << s.cx << " x " << s.cy;
            ASSERT_LE(ClosedMovieBytes(full), kMovieFileLimit) << s.cx << " x " << s.cy;
            ASSERT_GT(ClosedMovieBytes(full) + perFrame, kMovieFileLimit) << s.cx << " x " << s.cy;
        }
    }
}

TEST(MovieSplit, AFrameFitsExactlyUpToTheLimit) {
    const struct {
        uint64_t frames;
        uint64_t largest;  // the next frame at its largest
    } cases[] = {{0, 4}, {0, 2359296}, {7, 5}, {902, 2359296}, {41, 50331648}, {3, 0}};
    for (const auto& c : cases) {
        const MovieFill f = FillWith(c.frames, 2359296);
        // Closed with the next frame: the file so far, the frame's chunk (an odd
        // one padded), and an index one entry longer.
        const uint64_t closed =
            f.bytes + 8 + c.largest + (c.largest & 1) + 8 + 16 * (c.frames + 1) + 20;
        EXPECT_TRUE(NextFrameFits(f, c.largest, closed)) << c.frames << ", " << c.largest;
        EXPECT_FALSE(NextFrameFits(f, c.largest, closed - 1)) << c.frames << ", " << c.largest;
    }
    // The frame index is a signed 32-bit number.
    MovieFill many = FillWith(0x7FFFFFFE, 0);
    EXPECT_TRUE(NextFrameFits(many, 0, UINT64_MAX));
    AddMovieFrame(many, 0);
    EXPECT_FALSE(NextFrameFits(many, 0, UINT64_MAX));
}

TEST(MovieSplit, HeaderAreaAndDiskRoom) {
    const struct {
        uint32_t state;
        uint64_t header;
    } headers[] = {{0, 2048}, {1, 4096}, {2040, 4096}, {2041, 6144}, {5000, 8192}};
    for (const auto& h : headers) {
        const MovieFill f = EmptyMovieFill(h.state);
        EXPECT_EQ(h.header, f.headerBytes) << h.state;
        EXPECT_EQ(h.header, f.bytes) << h.state;
        EXPECT_EQ(0u, f.frames) << h.state;
    }
    // The next frame, the whole close (the header area included: the library
    // may write it only then) and the slack.
    EXPECT_EQ(2359304u + 8 + 16 + 20 + 2048 + (1u << 20),
              DiskBytesForNextFrame(EmptyMovieFill(0), 2359296));
    EXPECT_EQ(2359304u + 8 + 16 * 11 + 20 + 2048 + (1u << 20),
              DiskBytesForNextFrame(FillWith(10, 2359296), 2359296));
    // Going on in the next file: the full file's close first.
    EXPECT_EQ((8 + 16 * 903 + 20 + 2048) + (2359304u + 8 + 16 + 20 + 4096 + (1u << 20)),
              DiskBytesToGoOnInNextFile(FillWith(903, 2359296), EmptyMovieFill(7), 2359296));
}

TEST(MovieSplit, FolderOfAMoviePath) {
    const struct {
        const char* path;
        size_t size;
        const char* folder;  // nullptr: refused
    } cases[] = {
        {"C:\\cam\\avi\\040203090507.avi", 256, "C:\\cam\\avi\\"},
        {"\\\\server\\share\\avi\\040203090507_2.avi", 256, "\\\\server\\share\\avi\\"},
        // Code page 932: the second byte of this character is a backslash.
        {"C:\\\x83\x5C\\avi\\040203090507.avi", 256, "C:\\\x83\x5C\\avi\\"},
        {"040203090507.avi", 256, nullptr},
        {"/tmp/cam/avi/040203090507.avi", 256, "/tmp/cam/avi/"},
        {"C:\\cam/avi\\040203090507.avi", 256, "C:\\cam/avi\\"},
        {"C:\\cam\\avi\\x.avi", 11, nullptr},
        {"C:\\cam\\avi\\x.avi", 12, "C:\\cam\\avi\\"},
    };
    for (const auto& c : cases) {
        char out[256];
        std::memset(out, 'x', sizeof out);
        const bool made = MovieFolder(c.path, out, c.size);
        EXPECT_EQ(c.folder != nullptr, made) << c.path;
        EXPECT_STREQ(c.folder ? c.folder : "", out) << c.path;
    }
}

// ----- with the platform: threads, windows, GDI, the AVI library -----

// Runs fn on its own thread and waits for it, at most timeoutMs.
class Worker {
public:
    template <typename Fn>
    explicit Worker(Fn fn) : fn_(fn) {
        thread_.Reset(CreateThread(nullptr, 0, &Worker::Run, this, 0, nullptr));
    }
    ~Worker() { Join(10000); }
    bool Join(DWORD timeoutMs) {
        return thread_ && WaitForSingleObject(thread_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<Worker*>(self)->fn_();
        return 0;
    }
    std::function<void()> fn_;
    ScopedHandle thread_;
};

// A quit event of the test's own, put into the record for the test's length.
class RecorderStop : public ::testing::Test {
protected:
    void SetUp() override {
        quit_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        app.quitEvent = quit_.Get();
        app.quitRequested = 0;
        app.recording = 0;
    }
    void TearDown() override {
        app.quitEvent = nullptr;
        app.quitRequested = 0;
        app.recording = 0;
    }
    ScopedHandle quit_;
};

TEST_F(RecorderStop, OneStopEndsEveryPauseAtOnceAndAStartAfterItDoesNotUndoIt) {
    RecorderTicket first;
    RecorderTicket second;
    ASSERT_TRUE(first.Valid() && second.Valid());
    EXPECT_EQ(1, app.recording.load());
    bool firstEnded = true;
    bool secondEnded = true;
    {
        Worker a([&] { firstEnded = !first.Pause(INT32_MAX); });
        Worker b([&] { secondEnded = !second.Pause(INT32_MAX); });
        Sleep(100);
        StopRecording();
        // Without the stop each pause would last 24 days.
        EXPECT_TRUE(a.Join(5000));
        EXPECT_TRUE(b.Join(5000));
    }
    EXPECT_TRUE(firstEnded);
    EXPECT_TRUE(secondEnded);
    EXPECT_EQ(0, app.recording.load());

    // A start that follows sets recording again; the stopped recorders stay stopped.
    RecorderTicket third;
    EXPECT_EQ(1, app.recording.load());
    EXPECT_TRUE(third.Running());
    EXPECT_FALSE(first.Running());
    EXPECT_FALSE(second.Running());
    EXPECT_FALSE(first.Pause(0));
}

TEST_F(RecorderStop, QuitEndsAPauseAtOnce) {
    RecorderTicket ticket;
    ASSERT_TRUE(ticket.Running());
    bool ended = false;
    {
        Worker w([&] { ended = !ticket.Pause(INT32_MAX); });
        Sleep(100);
        app.quitRequested = 1;
        app.recording = 0;
        SetEvent(quit_.Get());
        EXPECT_TRUE(w.Join(5000));
    }
    EXPECT_TRUE(ended);
    EXPECT_FALSE(ticket.Running());
}

TEST_F(RecorderStop, NegativePauseIsNoPause) {
    RecorderTicket ticket;
    for (int32_t ms : {-1, -500, INT32_MIN, 0}) {
        bool timedOut = false;
        Worker w([&] { timedOut = ticket.Pause(ms); });
        // As an unsigned wait, -1 would never end.
        EXPECT_TRUE(w.Join(5000)) << ms;
        EXPECT_TRUE(timedOut) << ms;
    }
    EXPECT_TRUE(ticket.Running());
}

// A scratch folder below the temp directory, removed with its files.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "torvanel-record-" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(counter_++);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() { Remove(path_); }
    const std::string& Path() const { return path_; }
    std::vector<std::string> Files(const std::string& sub) const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((path_ + "\\" + sub + "\\*").c_str(), &d);
        if (h == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(d.cFileName);
            }
        } while (FindNextFileA(h, &d));
        FindClose(h);
        return names;
    }

private:
    static void Remove(const std::string& dir) {
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = d.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                std::string full = dir + "\\" + name;
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(full);
                } else {
                    DeleteFileA(full.c_str());
                }
            } while (FindNextFileA(h, &d));
            FindClose(h);
        }
        RemoveDirectoryA(dir.c_str());
    }
    static inline int counter_ = 0;
    std::string path_;
};

COMPVARS Choice(DWORD handler) {
    COMPVARS c = MakeInitialChoice();
    c.fccHandler = handler;
    c.lKey = -1;
    c.lDataRate = 300;
    return c;
}

class MovieFiles : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA((folder_.Path() + "\\avi").c_str(), nullptr);
        stamped_ = folder_.Path() + "\\avi\\040203090507.avi";
        ASSERT_TRUE(MakeFrameLayout(33, 20, layout_));
        header_ = MakeStreamInfo(layout_, StreamRate{3, 2});
        format_ = StreamFormat(layout_);
    }
    TempFolder folder_;
    std::string stamped_;
    FrameLayout layout_{};
    AVISTREAMINFOA header_{};
    BITMAPINFOHEADER format_{};
    AviLibrary library_;
};

TEST_F(MovieFiles, FullFramesWriteEveryFrameAtTheRate) {
    std::vector<unsigned char> frame(layout_.pixelBytes);
    {
        MovieFile movie;
        ASSERT_EQ(
            MovieOpen::Created,
            movie.Create(stamped_.c_str(), header_,
                         MakeCompressOptions(Choice(mmioFOURCC('D', 'I', 'B', ' '))), format_));
        for (LONG i = 0; i < 3; ++i) {
            std::memset(frame.data(), 40 * (i + 1), frame.size());
            ASSERT_TRUE(movie.Write(frame.data(), layout_.pixelBytes));
        }
    }
    // Read back through the platform's own reader.
    PAVIFILE file = nullptr;
    ASSERT_EQ(0, AVIFileOpenA(&file, stamped_.c_str(), OF_READ, nullptr));
    Scoped<PAVIFILE, AviFileTraits> fileOwner(file);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(0, AVIFileGetStream(file, &stream, streamtypeVIDEO, 0));
    Scoped<PAVISTREAM, AviStreamTraits> streamOwner(stream);
    AVISTREAMINFOA info{};
    ASSERT_EQ(0, AVIStreamInfoA(stream, &info, sizeof info));
    EXPECT_EQ(3u, info.dwLength);
    EXPECT_EQ(3u, info.dwRate);
    EXPECT_EQ(2u, info.dwScale);
    BITMAPINFOHEADER stored{};
    LONG size = sizeof stored;
    ASSERT_EQ(0, AVIStreamReadFormat(stream, 0, &stored, &size));
    EXPECT_EQ(33, stored.biWidth);
    EXPECT_EQ(20, stored.biHeight);
    EXPECT_EQ(24, stored.biBitCount);
    std::vector<unsigned char> back(layout_.pixelBytes);
    LONG bytes = 0;
    ASSERT_EQ(0, AVIStreamRead(stream, 2, 1, back.data(), static_cast<LONG>(back.size()), &bytes,
                               nullptr));
    EXPECT_EQ(static_cast<LONG>(layout_.pixelBytes), bytes);
    EXPECT_EQ(120, back[0]);
    EXPECT_EQ(120, back[back.size() - 1]);
}

uint64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) {
        return 0;
    }
    return (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

// Every frame of a movie file, read back through the platform's reader.
std::vector<std::vector<unsigned char>> ReadFrames(const std::string& path) {
    std::vector<std::vector<unsigned char>> frames;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != 0) {
        return frames;
    }
    Scoped<PAVIFILE, AviFileTraits> fileOwner(file);
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) != 0) {
        return frames;
    }
    Scoped<PAVISTREAM, AviStreamTraits> streamOwner(stream);
    AVISTREAMINFOA info{};
    AVIStreamInfoA(stream, &info, sizeof info);
    for (LONG i = 0; i < static_cast<LONG>(info.dwLength); ++i) {
        LONG bytes = 0;
        AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr);
        std::vector<unsigned char> frame(static_cast<size_t>(bytes > 0 ? bytes : 0));
        if (AVIStreamRead(stream, i, 1, frame.data(), bytes, &bytes, nullptr) != 0) {
            frame.clear();
        }
        frames.push_back(frame);
    }
    return frames;
}

TEST_F(MovieFiles, TheCountedSizeIsTheSizeOfTheClosedFile) {
    const AVICOMPRESSOPTIONS options = MakeCompressOptions(Choice(mmioFOURCC('D', 'I', 'B', ' ')));
    std::vector<unsigned char> frame(layout_.pixelBytes + 1, 0x33);
    // Full frames, and frames of an odd size as a compressor may make them.
    for (DWORD bytes : {layout_.pixelBytes, layout_.pixelBytes + 1, DWORD{7}}) {
        for (int frames : {0, 1, 3}) {
            MovieFile movie;
            ASSERT_EQ(MovieOpen::Created,
                      movie.Create(stamped_.c_str(), header_, options, format_));
            EXPECT_EQ(layout_.pixelBytes, movie.LargestFrame());
            for (int i = 0; i < frames; ++i) {
                ASSERT_TRUE(movie.Write(frame.data(), bytes));
            }
            const std::string path = movie.Path();
            const MovieFill fill = movie.Fill();
            movie.Close();
            EXPECT_EQ(ClosedMovieBytes(fill), FileBytes(path)) << bytes << " x " << frames;
            EXPECT_EQ(static_cast<size_t>(frames), ReadFrames(path).size());
            DeleteFileA(path.c_str());
        }
    }
}

TEST_F(MovieFiles, ASeriesSplitsWithoutLosingOrRepeatingAFrame) {
    char savedDir[kTextSize];
    std::memcpy(savedDir, app.workDir, sizeof savedDir);
    std::strcpy(app.workDir, folder_.Path().c_str());
    // A name a later file of the series could take, left by an earlier run.
    char taken[kTextSize];
    ASSERT_TRUE(StampedPath(StampKind::Movie, taken));
    ScopedFile(CreateFileA(taken, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

    // Room for three frames a file, to the byte.
    const uint64_t limit = ClosedMovieBytes(FillWith(3, layout_.pixelBytes));
    std::vector<std::string> files;
    {
        MovieSeries series(header_, MakeCompressOptions(Choice(mmioFOURCC('D', 'I', 'B', ' '))),
                           format_, limit);
        ASSERT_EQ(MovieOpen::Created, series.Open(stamped_.c_str()));
        std::vector<unsigned char> frame(layout_.pixelBytes);
        for (int i = 0; i < 8; ++i) {
            std::memset(frame.data(), i + 1, frame.size());
            ASSERT_EQ(FrameWrite::Written, series.Write(frame.data(), layout_.pixelBytes)) << i;
            if (files.empty() || files.back() != series.Current().Path()) {
                files.push_back(series.Current().Path());
            }
        }
    }
    std::memcpy(app.workDir, savedDir, sizeof savedDir);

    ASSERT_EQ(3u, files.size());
    EXPECT_EQ(stamped_, files[0]);
    EXPECT_EQ(0u, FileBytes(taken)) << "the file already there is left as it was";
    int next = 1;
    for (size_t f = 0; f < files.size(); ++f) {
        EXPECT_NE(std::string(taken), files[f]);
        EXPECT_LE(FileBytes(files[f]), limit) << files[f];
        const auto frames = ReadFrames(files[f]);
        EXPECT_EQ(f < 2 ? 3u : 2u, frames.size()) << files[f];
        for (const auto& frame : frames) {
            ASSERT_EQ(layout_.pixelBytes, frame.size());
            EXPECT_EQ(next, frame[0]) << files[f];
            EXPECT_EQ(next, frame[frame.size() - 1]) << files[f];
            ++next;
        }
    }
    EXPECT_EQ(9, next) << "every frame once, in order";
}

TEST(DiskRoom, AskedOfTheFolder) {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    EXPECT_TRUE(DiskHasRoom(temp, 1));
    EXPECT_FALSE(DiskHasRoom(temp, UINT64_MAX));
    EXPECT_FALSE(DiskHasRoom((std::string(temp) + "no-such-folder\\avi\\").c_str(), 1));
}

TEST_F(MovieFiles, TheSameStampNeverOpensOneFileTwice) {
    const AVICOMPRESSOPTIONS options = MakeCompressOptions(Choice(mmioFOURCC('D', 'I', 'B', ' ')));
    {
        MovieFile first;
        MovieFile second;
        ASSERT_EQ(MovieOpen::Created, first.Create(stamped_.c_str(), header_, options, format_));
        ASSERT_EQ(MovieOpen::Created, second.Create(stamped_.c_str(), header_, options, format_));
        EXPECT_EQ(stamped_, first.Path());
        EXPECT_EQ(folder_.Path() + "\\avi\\040203090507_2.avi", second.Path());
    }
    // A file left from before is not overwritten either.
    MovieFile third;
    ASSERT_EQ(MovieOpen::Created, third.Create(stamped_.c_str(), header_, options, format_));
    EXPECT_EQ(folder_.Path() + "\\avi\\040203090507_3.avi", third.Path());
    EXPECT_EQ(3u, folder_.Files("avi").size());
}

TEST_F(MovieFiles, ACompressorThatRejectsTheFramesLeavesNoFile) {
    for (DWORD handler : {mmioFOURCC('m', 'r', 'l', 'e'), mmioFOURCC('m', 's', 'v', 'c'),
                          mmioFOURCC('c', 'v', 'i', 'd')}) {
        AVISTREAMINFOA header = header_;
        header.fccHandler = handler;
        MovieFile movie;
        const MovieOpen result =
            movie.Create(stamped_.c_str(), header, MakeCompressOptions(Choice(handler)), format_);
        EXPECT_NE(MovieOpen::Created, result) << std::string(reinterpret_cast<char*>(&handler), 4);
        EXPECT_FALSE(movie.Write("", 0));
        EXPECT_TRUE(folder_.Files("avi").empty());
    }
}

TEST_F(MovieFiles, AMissingFolderMakesNoFile) {
    const std::string elsewhere = folder_.Path() + "\\none\\040203090507.avi";
    MovieFile movie;
    EXPECT_EQ(MovieOpen::NoName,
              movie.Create(elsewhere.c_str(), header_,
                           MakeCompressOptions(Choice(mmioFOURCC('D', 'I', 'B', ' '))), format_));
    EXPECT_TRUE(folder_.Files("none").empty());
    EXPECT_TRUE(folder_.Files("avi").empty());
}

// A plain window as the main window, with the three surfaces made for it.
class RecorderWindow : public ::testing::Test {
protected:
    static HWND MakeWindow(DWORD style, int w, int h) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "RecordTestWindow";
        RegisterClassA(&wc);
        return CreateWindowExA(0, "RecordTestWindow", "record test", style, 0, 0, w, h, nullptr,
                               nullptr, wc.hInstance, nullptr);
    }
    void Use(HWND window) {
        window_ = window;
        app.mainWindow = window;
        app.surfaces.CreateSurfaces(window);
        ASSERT_TRUE(DisplayCopy(1, 1).Copied());
    }
    void TearDown() override {
        app.surfaces.DestroySurfaces();
        if (window_) {
            DestroyWindow(window_);
        }
        app.mainWindow = nullptr;
        app.recording = 0;
    }
    HWND window_ = nullptr;
};

COLORREF Probe(int x, int y) {
    return RGB(10 * x + 1, 50 * y + 2, 200 - x - y);
}

TEST_F(RecorderWindow, AFrameIsThePictureBottomUpInBlueGreenRed) {
    Use(MakeWindow(WS_POPUP, 5, 3));
    PaintDisplay(5, 3, [](HDC dc) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                SetPixel(dc, x, y, Probe(x, y));
            }
        }
    });
    FrameLayout l;
    ASSERT_TRUE(MakeFrameLayout(5, 3, l));
    FrameGrabber grabber;
    ASSERT_TRUE(grabber.Open(window_, l));
    ASSERT_TRUE(grabber.Capture());

    EXPECT_EQ('B', grabber.Buffer()[0]);
    EXPECT_EQ(3u, Le32(grabber.Buffer() + 22));
    for (int row = 0; row < 3; ++row) {
        const unsigned char* p = grabber.Pixels() + row * l.stride;
        const int y = 2 - row;  // the first row is the picture's bottom row
        for (int x = 0; x < 5; ++x) {
            const COLORREF c = Probe(x, y);
            EXPECT_EQ(GetBValue(c), p[3 * x]) << x << "," << y;
            EXPECT_EQ(GetGValue(c), p[3 * x + 1]) << x << "," << y;
            EXPECT_EQ(GetRValue(c), p[3 * x + 2]) << x << "," << y;
        }
        EXPECT_EQ(0, p[15]) << "padding of row " << row;
    }

    // Once the window's destruction has freed the surfaces, no frame is taken.
    app.surfaces.DestroySurfaces();
    EXPECT_FALSE(grabber.Capture());
}

TEST_F(RecorderWindow, AnHdFrameHoldsThePictureAndIsBlackBeyondTheSurface) {
    // A frame larger than the first surfaces, showing a picture that grew them.
    Use(MakeWindow(WS_POPUP, 1930, 1090));
    FillDisplay(1920, 1080, RGB(255, 255, 255));
    FrameLayout l;
    ASSERT_TRUE(MakeFrameLayout(1930, 1090, l));
    FrameGrabber grabber;
    ASSERT_TRUE(grabber.Open(window_, l));
    ASSERT_TRUE(grabber.Capture());
    auto at = [&](int x, int y) {
        const unsigned char* p = grabber.Pixels() + (1089 - y) * l.stride + 3 * x;
        return RGB(p[2], p[1], p[0]);
    };
    EXPECT_EQ(RGB(255, 255, 255), at(0, 0));
    EXPECT_EQ(RGB(255, 255, 255), at(1919, 1079));
    EXPECT_EQ(RGB(255, 255, 255), at(1500, 900));
    EXPECT_EQ(RGB(0, 0, 0), at(1920, 0));
    EXPECT_EQ(RGB(0, 0, 0), at(0, 1080));
    EXPECT_EQ(RGB(0, 0, 0), at(1929, 1089));
}

TEST_F(RecorderWindow, NoClientAreaStartsNoRecording) {
    TempFolder folder;
    CreateDirectoryA((folder.Path() + "\\avi").c_str(), nullptr);
    char savedDir[kTextSize];
    std::memcpy(savedDir, app.workDir, sizeof savedDir);
    std::strcpy(app.workDir, folder.Path().c_str());

    const struct {
        const char* what;
        DWORD style;
        int w, h;
        bool minimise;
    } cases[] = {{"minimised", WS_OVERLAPPEDWINDOW, 300, 200, true},
                 {"no height", WS_POPUP, 300, 0, false},
                 {"no width", WS_POPUP, 0, 200, false}};
    for (const auto& c : cases) {
        HWND window = MakeWindow(c.style, c.w, c.h);
        ASSERT_TRUE(window) << c.what;
        if (c.minimise) {
            ShowWindow(window, SW_MINIMIZE);
        }
        RECT client{};
        GetClientRect(window, &client);
        ASSERT_TRUE(client.right == 0 || client.bottom == 0) << c.what;
        app.mainWindow = window;
        // With a client area the recorder would now wait in the compressor dialog.
        Worker recorder([] { RecorderLoop(); });
        EXPECT_TRUE(recorder.Join(5000)) << c.what;
        EXPECT_TRUE(folder.Files("avi").empty()) << c.what;
        app.mainWindow = nullptr;
        DestroyWindow(window);
    }
    std::memcpy(app.workDir, savedDir, sizeof savedDir);
}

}  // namespace
}  // namespace torvanel
