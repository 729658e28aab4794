// The HTTP fetcher against the project's camera server on 127.0.0.1, and the
// pure pieces of the fetch loop.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "acquire/http_fetcher.h"
#include "acquire/window_fit.h"

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

TEST_F(FetcherTest, CompleteBodiesReplaceTheFileAndOthersLeaveItAsItWas) {
    // Several reads' worth, with no repeating pattern, so a dropped or doubled
    // block shows.
    std::string picture;
    for (int i = 0; i < 3001; ++i) {
        picture += static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    WriteAll(camera_.Files() + "\\body.bin", picture);
    const std::string page =
        "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>";
    const std::string old = "the picture shown before";

    const struct {
        std::string url;
        std::string expected;
    } cases[] = {
        {camera_.Url("bytes/512"), CountedBytes(512)},  // exactly one full read, then the end
        {camera_.Url("bytes/513"), CountedBytes(513)},
        {camera_.Url("file/body.bin"), picture},
        {camera_.Url("empty"), ""},
        {camera_.Url("404"), page},               // an error page is a body like any other
        {camera_.Url("cut/body.bin"), old},       // half the announced length, then closed
        {"http://127.0.0.1:1/refused.jpg", old},  // nothing listens there
    };
    for (const auto& c : cases) {
        const std::string target = Path("work.jpg");
        WriteAll(target, old);
        DownloadToFile(c.url.c_str(), target.c_str());
        EXPECT_EQ(c.expected, ReadAll(target)) << c.url;
        EXPECT_FALSE(Exists(target + ".part")) << c.url;
    }
}

TEST_F(FetcherTest, FailedDownloadCreatesNoFileWhereNoneWas) {
    for (const std::string& url :
         {camera_.Url("cut/body.bin"), std::string("http://127.0.0.1:1/")}) {
        const std::string target = Path("fresh.jpg");
        DeleteFileA(target.c_str());
        DownloadToFile(url.c_str(), target.c_str());
        EXPECT_FALSE(Exists(target)) << url;
        EXPECT_FALSE(Exists(target + ".part")) << url;
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
