// The HTTP fetcher and the fetch thread against the project's camera server
// on 127.0.0.1, and the pure pieces of the fetch loop.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "acquire/fetch_loop.h"
#include "acquire/http_fetcher.h"
#include "acquire/window_fit.h"
#include "app/app_state.h"
#include "base/scoped_win.h"

namespace torvanel {
namespace {

// Wine's own path conversions, to hand Unix paths to the server it runs.
using ToUnixFn = char*(CDECL*)(LPCWSTR);
using ToDosFn = WCHAR*(CDECL*)(LPCSTR);

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// tools/camera_server.py as a Unix process beside this Wine one, stopped by
// its PID when the suite ends.
class CameraServer {
public:
    bool Start(const std::string& dir) {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        toUnix_ = reinterpret_cast<ToUnixFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
        toDos_ = reinterpret_cast<ToDosFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
        if (!toUnix_ || !toDos_) {
            return false;
        }
        files_ = dir + "\\files";
        CreateDirectoryA(files_.c_str(), nullptr);
        pidFile_ = dir + "\\camera.pid";
        const std::string portFile = dir + "\\camera.port";
        // __FILE__ is this source's absolute Unix path: tests/unit/ below the root.
        std::string root = __FILE__;
        for (int up = 0; up < 3; ++up) {
            root = root.substr(0, root.find_last_of('/'));
        }
        const std::string script = "echo $$ > '" + Unix(pidFile_) + "'; exec python3 '" + root +
                                   "/tools/camera_server.py' --port-file '" + Unix(portFile) +
                                   "' --files '" + Unix(files_) +
                                   "' --lifetime 300 >/dev/null 2>&1";
        if (!Run("/bin/sh", "sh -c \"" + script + "\"")) {
            return false;
        }
        for (int i = 0; i < 600 && !Exists(portFile); ++i) {
            Sleep(50);
        }
        port_ = std::atoi(ReadAll(portFile).c_str());
        return port_ > 0;
    }

    void Stop() {
        const std::string pid = ReadAll(pidFile_);
        if (std::atoi(pid.c_str()) > 0) {
            Run("/bin/kill", "kill " + std::to_string(std::atoi(pid.c_str())));
        }
    }

    std::string Url(const std::string& route) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + route;
    }
    const std::string& Files() const { return files_; }

private:
    std::string Unix(const std::string& dosPath) const {
        const std::wstring wide(dosPath.begin(), dosPath.end());
        char* unix = toUnix_(wide.c_str());
        std::string result = unix ? unix : "";
        HeapFree(GetProcessHeap(), 0, unix);
        return result;
    }

    // Wine starts a Unix program through CreateProcess, without a handle to wait on.
    bool Run(const char* program, std::string commandLine) {
        WCHAR* dos = toDos_(program);
        if (!dos) {
            return false;
        }
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        std::wstring line(commandLine.begin(), commandLine.end());
        const BOOL ok =
            CreateProcessW(dos, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        HeapFree(GetProcessHeap(), 0, dos);
        if (pi.hProcess) {
            CloseHandle(pi.hProcess);
        }
        if (pi.hThread) {
            CloseHandle(pi.hThread);
        }
        return ok != FALSE;
    }

    ToUnixFn toUnix_ = nullptr;
    ToDosFn toDos_ = nullptr;
    std::string files_;
    std::string pidFile_;
    int port_ = 0;
};

class FetcherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        dir_ = std::string(temp) + "torvanel-acquire-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        ASSERT_TRUE(camera_.Start(dir_)) << "the camera server did not start";
    }
    static void TearDownTestSuite() {
        camera_.Stop();
        std::string command = "cmd /c rmdir /s /q \"" + dir_ + "\"";
        std::system(command.c_str());
    }

    static std::string Path(const char* name) { return dir_ + "\\" + name; }

    static CameraServer camera_;
    static std::string dir_;
};

CameraServer FetcherTest::camera_;
std::string FetcherTest::dir_;

// What /bytes/N sends.
std::string CountedBytes(int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) {
        bytes += static_cast<char>((i * 7 + 3) & 0xFF);
    }
    return bytes;
}

// Several reads' worth, with no repeating pattern, so a dropped or doubled
// block shows.
std::string Picture() {
    std::string picture;
    for (int i = 0; i < 3001; ++i) {
        picture += static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    return picture;
}

DownloadResult Download(const std::string& url, const std::string& path,
                        DownloadLimits limits = kCameraLimits, HANDLE cancel = nullptr) {
    const DownloadRequest request{url.c_str(), nullptr, limits, cancel};
    return DownloadBody(request, path.c_str());
}

const char* Name(DownloadEnd end) {
    switch (end) {
        case DownloadEnd::Body:
            return "Body";
        case DownloadEnd::Status:
            return "Status";
        case DownloadEnd::NoConnection:
            return "NoConnection";
        case DownloadEnd::Certificate:
            return "Certificate";
        case DownloadEnd::Stalled:
            return "Stalled";
        case DownloadEnd::Cancelled:
            return "Cancelled";
        case DownloadEnd::TooLarge:
            return "TooLarge";
        case DownloadEnd::LocalFailure:
            return "LocalFailure";
    }
    return "?";
}

// Waits, bounded, until the abandoned requests have all reported their closing.
bool NoTransferPending(DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (PendingTransfers() != 0) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

TEST_F(FetcherTest, OnlyAWhole2xxBodyIsWrittenAndEveryOtherEndLeavesNoFile) {
    WriteAll(camera_.Files() + "\\body.bin", Picture());
    const struct {
        std::string url;
        DownloadEnd end;
        uint32_t status;
        std::string body;  // for Body
    } cases[] = {
        {camera_.Url("bytes/512"), DownloadEnd::Body, 200, CountedBytes(512)},
        {camera_.Url("bytes/513"), DownloadEnd::Body, 200, CountedBytes(513)},
        {camera_.Url("bytes/50000"), DownloadEnd::Body, 200, CountedBytes(50000)},
        {camera_.Url("file/body.bin"), DownloadEnd::Body, 200, Picture()},
        {camera_.Url("empty"), DownloadEnd::Body, 200, ""},
        {camera_.Url("404"), DownloadEnd::Status, 404, ""},
        {camera_.Url("status/503"), DownloadEnd::Status, 503, ""},
        {camera_.Url("status/403"), DownloadEnd::Status, 403, ""},
        // Half the announced length, then closed: WinINet calls that an end.
        {camera_.Url("cut/body.bin"), DownloadEnd::NoConnection, 200, ""},
        {"http://127.0.0.1:1/refused.jpg", DownloadEnd::NoConnection, 0, ""},
        {"ftp://127.0.0.1/x.jpg", DownloadEnd::NoConnection, 0, ""},
        {"no url at all", DownloadEnd::NoConnection, 0, ""},
    };
    for (const auto& c : cases) {
        const std::string target = Path("work.jpg.part");
        WriteAll(target, "left over from an earlier run");
        const DownloadResult r = Download(c.url, target);
        EXPECT_STREQ(Name(c.end), Name(r.end)) << c.url;
        EXPECT_EQ(c.status, r.status) << c.url;
        if (c.end == DownloadEnd::Body) {
            EXPECT_EQ(c.body, ReadAll(target)) << c.url;
        } else {
            EXPECT_FALSE(Exists(target)) << c.url;
        }
    }
    EXPECT_TRUE(NoTransferPending(5000));
}

TEST_F(FetcherTest, A401BringsEveryChallengeAndAnAuthorizationIsSent) {
    const std::string target = Path("login.part");
    const std::string url = camera_.Url("digest/Basic+SHA-256/auth/0/u/p/bytes:64");
    DownloadResult r = Download(url, target);
    ASSERT_EQ(DownloadEnd::Status, r.end);
    EXPECT_EQ(401u, r.status);
    ASSERT_EQ(2u, r.challenges.size());
    EXPECT_EQ("Basic realm=\"torvanel-camera\"", r.challenges[0]);
    EXPECT_EQ(0u, r.challenges[1].find("Digest realm=\"torvanel-camera\", nonce=\""))
        << r.challenges[1];

    const std::string basic = camera_.Url("basic/u/p/bytes:64");
    const DownloadRequest request{basic.c_str(), "Basic dTpw", kCameraLimits, nullptr};
    r = DownloadBody(request, target.c_str());
    EXPECT_STREQ("Body", Name(r.end));
    EXPECT_EQ(CountedBytes(64), ReadAll(target));
}

TEST_F(FetcherTest, DownloadsAreGivenUpWithoutProgressOrPastTheirWholeBound) {
    WriteAll(camera_.Files() + "\\body.bin", Picture());
    // The camera's 10 s and 60 s, scaled down to 2 s and 6 s.
    const DownloadLimits limits{2000, 6000};
    const struct {
        const char* route;
        DownloadEnd end;
        ULONGLONG atLeastMs, atMostMs;
    } cases[] = {
        // No byte of the answer: given up after the stall bound, long before
        // the camera would let go (5 s).
        {"seq/stall:5", DownloadEnd::Stalled, 1900, 4500},
        // The answer and a first byte, then none for 6 s.
        {"seq/drip:6:file:body.bin", DownloadEnd::Stalled, 1900, 4500},
        // A byte every 0.3 s keeps it alive until the whole bound.
        {"seq/drip:0.3:file:body.bin", DownloadEnd::Stalled, 5900, 9500},
        // Slow but steady and done within the whole bound: never cut.
        {"seq/slow:2.5:file:body.bin", DownloadEnd::Body, 2000, 5900},
    };
    for (const auto& c : cases) {
        const std::string target = Path("bounded.part");
        const ULONGLONG start = GetTickCount64();
        const DownloadResult r = Download(camera_.Url(c.route), target, limits);
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_STREQ(Name(c.end), Name(r.end)) << c.route;
        EXPECT_GE(took, c.atLeastMs) << c.route;
        EXPECT_LE(took, c.atMostMs) << c.route;
        if (c.end == DownloadEnd::Body) {
            EXPECT_EQ(Picture(), ReadAll(target)) << c.route;
        } else {
            EXPECT_FALSE(Exists(target)) << c.route;
        }
    }
    // Each request given up is let go by WinINet once the server lets go.
    EXPECT_TRUE(NoTransferPending(15000)) << PendingTransfers() << " still pending";
}

TEST_F(FetcherTest, TheCancelEventEndsADownloadAtOnce) {
    ScopedHandle cancel(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    const std::string url = camera_.Url("seq/stall:3");
    ULONGLONG start = GetTickCount64();
    EXPECT_STREQ("Cancelled", Name(Download(url, Path("c.part"), kCameraLimits, cancel.Get()).end));
    EXPECT_LT(GetTickCount64() - start, 1000u);

    // Set while the request waits for its answer.
    ResetEvent(cancel.Get());
    ScopedHandle setter(CreateThread(
        nullptr, 0,
        [](void* event) -> DWORD {
            Sleep(300);
            SetEvent(static_cast<HANDLE>(event));
            return 0;
        },
        cancel.Get(), 0, nullptr));
    ASSERT_TRUE(setter);
    start = GetTickCount64();
    EXPECT_STREQ("Cancelled", Name(Download(url, Path("c.part"), kCameraLimits, cancel.Get()).end));
    EXPECT_LT(GetTickCount64() - start, 2000u);
    WaitForSingleObject(setter.Get(), 5000);
    EXPECT_FALSE(Exists(Path("c.part")));
    EXPECT_TRUE(NoTransferPending(15000));
}

// The fetch thread on its own, with the quit event and URL that the window
// would give it.
class FetchThreadRun {
public:
    explicit FetchThreadRun(const std::string& url)
        : quit_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        std::snprintf(app.settings.url, kTextSize, "%s", url.c_str());
        app.settings.WaitTime = 50;
        app.quitRequested = 0;
        app.quitEvent = quit_.Get();
        passesBefore_ = app.connection.Read().passesStarted;
    }
    ~FetchThreadRun() {
        Quit();
        if (thread_) {
            WaitForSingleObject(thread_.Get(), 30000);
        }
        app.quitEvent = nullptr;
        app.quitRequested = 0;
        app.settings.url[0] = '\0';
    }
    bool Start() {
        thread_.Reset(CreateThread(nullptr, 0, FetchThread, nullptr, 0, nullptr));
        return thread_.Valid();
    }
    // What the quit path does before it waits for the thread.
    void Quit() {
        app.quitRequested = 1;
        SetEvent(quit_.Get());
    }
    uint64_t Passes() const { return app.connection.Read().passesStarted - passesBefore_; }
    bool WaitPasses(uint64_t n, DWORD timeoutMs) const {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        while (Passes() < n) {
            if (GetTickCount64() >= end) {
                return false;
            }
            Sleep(20);
        }
        return true;
    }
    bool Ended(DWORD timeoutMs) const {
        return WaitForSingleObject(thread_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    ScopedHandle quit_;
    ScopedHandle thread_;
    uint64_t passesBefore_ = 0;
};

TEST_F(FetcherTest, TheFetchThreadEndsPromptlyWhenTheToolQuitsDuringAStall) {
    FetchThreadRun run(camera_.Url("stall"));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPasses(1, 10000));
    Sleep(500);  // well inside the download, which never gets an answer
    const ULONGLONG start = GetTickCount64();
    run.Quit();
    EXPECT_TRUE(run.Ended(5000)) << "the fetch thread was still running 5 s after the quit";
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ(1u, run.Passes());
}

// The settings dialog rewrites the URL under urlLock (see settings_dialog_test);
// the fetch thread must read it only under that lock too: while a writer holds
// it, no pass may begin.
TEST_F(FetcherTest, TheFetchThreadReadsTheUrlOnlyUnderItsLock) {
    FetchThreadRun run("http://127.0.0.1:1/refused.jpg");
    {
        ExclusiveLock writer(app.urlLock);
        ASSERT_TRUE(run.Start());
        Sleep(700);
        EXPECT_EQ(0u, run.Passes()) << "a pass began while the URL was being written";
    }
    EXPECT_TRUE(run.WaitPasses(2, 10000));
    run.Quit();
    EXPECT_TRUE(run.Ended(5000));
}

TEST(EndForError, CertificateErrorsAreToldApart) {
    const struct {
        DWORD error;
        DownloadEnd end;
    } cases[] = {
        {ERROR_INTERNET_INVALID_CA, DownloadEnd::Certificate},  // self-signed, under Wine
        {ERROR_INTERNET_SEC_CERT_CN_INVALID, DownloadEnd::Certificate},
        {ERROR_INTERNET_SEC_CERT_DATE_INVALID, DownloadEnd::Certificate},
        {ERROR_INTERNET_SEC_CERT_REVOKED, DownloadEnd::Certificate},
        {ERROR_INTERNET_SEC_INVALID_CERT, DownloadEnd::Certificate},
        {ERROR_INTERNET_CANNOT_CONNECT, DownloadEnd::NoConnection},  // refused
        {ERROR_INTERNET_NAME_NOT_RESOLVED, DownloadEnd::NoConnection},
        {ERROR_INTERNET_CONNECTION_RESET, DownloadEnd::NoConnection},
        {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, DownloadEnd::NoConnection},
        {ERROR_INTERNET_OPERATION_CANCELLED, DownloadEnd::Cancelled},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(Name(c.end), Name(EndForError(c.error))) << c.error;
    }
}

TEST(OutcomeForDownload, EachEndHasItsCause) {
    const struct {
        DownloadEnd end;
        uint32_t status;
        PassOutcome outcome;
    } cases[] = {
        {DownloadEnd::Body, 200, PassOutcome::Picture},
        {DownloadEnd::Status, 401, PassOutcome::Unauthorized},
        {DownloadEnd::Status, 403, PassOutcome::Forbidden},
        {DownloadEnd::Status, 404, PassOutcome::HttpError},
        {DownloadEnd::Status, 503, PassOutcome::HttpError},
        {DownloadEnd::Status, 0, PassOutcome::NotPicture},  // no status line at all
        {DownloadEnd::NoConnection, 0, PassOutcome::NoConnection},
        {DownloadEnd::Certificate, 0, PassOutcome::Certificate},
        {DownloadEnd::Stalled, 0, PassOutcome::NoAnswer},
        {DownloadEnd::Cancelled, 0, PassOutcome::Cancelled},
        {DownloadEnd::TooLarge, 200, PassOutcome::NotPicture},
        {DownloadEnd::LocalFailure, 200, PassOutcome::NotPicture},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.outcome, OutcomeForDownload(c.end, c.status)) << Name(c.end) << " " << c.status;
    }
}

TEST(ParseContentLength, DecimalDigitsWithin64Bits) {
    const struct {
        const char* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0", true, 0},
        {"512", true, 512},
        {"4294967296", true, 4294967296ull},  // past 32 bits
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"12a", false, 0},
        {" 12", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t value = 7;
        EXPECT_EQ(c.ok, ParseContentLength(c.text, &value)) << c.text;
        EXPECT_EQ(c.ok ? c.value : 7u, value) << c.text;
    }
}

TEST(WindowSizeForPicture, AddsFramesAndCaption) {
    const struct {
        int32_t w, h;
        FrameMetrics m;
        LONG outerW, outerH;
    } cases[] = {
        {320, 240, {4, 4, 19}, 328, 267},
        {640, 480, {8, 8, 23}, 656, 519},
        {INT32_MAX, INT32_MAX, {4, 4, 19}, INT32_MAX, INT32_MAX},  // held, not wrapped
    };
    for (const auto& c : cases) {
        const SIZE s = WindowSizeForPicture(c.w, c.h, c.m);
        EXPECT_EQ(c.outerW, s.cx) << c.w << "x" << c.h;
        EXPECT_EQ(c.outerH, s.cy) << c.w << "x" << c.h;
    }
}

TEST(FitWindowToWorkArea, ClientTakesThePictureWithinTheWorkArea) {
    const FrameMetrics m{4, 4, 19};
    const RECT screen{0, 0, 1280, 1024};
    const struct {
        const char* what;
        RECT window;
        int32_t w, h;
        RECT work;
        RECT expected;
    } cases[] = {
        {"fits where it is: not moved", {45, 30, 200, 100}, 320, 240, screen, {45, 30, 373, 297}},
        {"HD on a laptop with a taskbar: the whole work area",
         {45, 30, 200, 100},
         1920,
         1080,
         {0, 0, 1920, 1040},
         {0, 0, 1920, 1040}},
        {"UHD on a small screen", {45, 30, 200, 100}, 3840, 2160, screen, {0, 0, 1280, 1024}},
        {"too wide only: moved left as far as needed",
         {400, 30, 500, 100},
         1272,
         300,
         screen,
         {0, 30, 1280, 357}},
        {"would reach past the right edge",
         {1000, 50, 1100, 150},
         640,
         480,
         screen,
         {632, 50, 1280, 557}},
        {"above and left of the work area", {-100, -50, 0, 0}, 320, 240, screen, {0, 0, 328, 267}},
        {"on a second monitor",
         {2000, 100, 2100, 200},
         1024,
         768,
         {1920, 0, 3200, 1024},
         {2000, 100, 3032, 895}},
        {"empty work area: held back by nothing",
         {45, 30, 200, 100},
         320,
         240,
         {0, 0, 0, 0},
         {45, 30, 373, 297}},
    };
    for (const auto& c : cases) {
        const RECT r = FitWindowToWorkArea(c.window, c.w, c.h, m, c.work);
        EXPECT_EQ(c.expected.left, r.left) << c.what;
        EXPECT_EQ(c.expected.top, r.top) << c.what;
        EXPECT_EQ(c.expected.right, r.right) << c.what;
        EXPECT_EQ(c.expected.bottom, r.bottom) << c.what;
    }
}

}  // namespace
}  // namespace torvanel
