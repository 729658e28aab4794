#include "record/avi_layout.h"

#include <cstdio>
#include <cstring>

#include "settings/settings_store.h"

namespace torvanel {

namespace {
constexpr DWORD kFullFrames = mmioFOURCC('D', 'I', 'B', ' ');
constexpr DWORD kBytesPerKilobyte = 1024;
// AVIStreamWrite takes the length as a signed 32-bit count.
constexpr uint64_t kLargestBuffer = 0x7FFFFFFF;
}  // namespace

bool MakeFrameLayout(LONG width, LONG height, FrameLayout& out) {
    out = FrameLayout{};
    if (width <= 0 || height <= 0) {
        return false;
    }
    const uint64_t stride = (3 * static_cast<uint64_t>(width) + 3) & ~uint64_t{3};
    const uint64_t pixels = stride * static_cast<uint64_t>(height);
    if (pixels > kLargestBuffer - kFrameHeadersSize) {
        return false;
    }
    out.width = width;
    out.height = height;
    out.stride = static_cast<DWORD>(stride);
    out.pixelBytes = static_cast<DWORD>(pixels);
    out.bufferBytes = static_cast<DWORD>(pixels + kFrameHeadersSize);
    return true;
}

BITMAPINFOHEADER FrameInfoHeader(const FrameLayout& layout) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = layout.width;
    h.biHeight = layout.height;  // positive: rows run bottom-up
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    return h;
}

void WriteFrameHeaders(const FrameLayout& layout, unsigned char* buffer) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfSize = layout.bufferBytes;
    file.bfOffBits = kFrameHeadersSize;
    const BITMAPINFOHEADER info = FrameInfoHeader(layout);
    // Copied byte-wise: the info header sits at offset 14, off its alignment.
    std::memcpy(buffer, &file, sizeof file);
    std::memcpy(buffer + sizeof file, &info, sizeof info);
}

BITMAPINFOHEADER StreamFormat(const FrameLayout& layout) {
    BITMAPINFOHEADER h = FrameInfoHeader(layout);
    h.biSizeImage = layout.pixelBytes;
    return h;
}

StreamRate MakeStreamRate(int32_t frame, int32_t perSec) {
    return StreamRate{static_cast<DWORD>(frame > 0 ? frame : kDefaultFrame),
                      static_cast<DWORD>(perSec > 0 ? perSec : kDefaultPerSec)};
}

AVISTREAMINFOA MakeStreamInfo(const FrameLayout& layout, StreamRate rate) {
    AVISTREAMINFOA s{};
    s.fccType = streamtypeVIDEO;
    s.fccHandler = kFullFrames;
    s.dwScale = rate.scale;
    s.dwRate = rate.rate;
    s.dwQuality = static_cast<DWORD>(-1);  // the compressor's default
    s.rcFrame.right = layout.width;
    s.rcFrame.bottom = layout.height;
    std::strcpy(s.szName, "Video #1");
    return s;
}

COMPVARS MakeInitialChoice() {
    COMPVARS c{};
    // The dialog accepts only its own build's record size: 64 bytes in a
    // 32-bit build, more in a 64-bit one, where pointers are wider.
    c.cbSize = sizeof(COMPVARS);
    c.dwFlags = ICMF_COMPVARS_VALID;
    c.fccHandler = kFullFrames;
    c.lQ = ICQUALITY_DEFAULT;
    return c;
}

AVICOMPRESSOPTIONS MakeCompressOptions(const COMPVARS& choice) {
    AVICOMPRESSOPTIONS o{};
    o.fccType = streamtypeVIDEO;
    o.fccHandler = choice.fccHandler;
    o.dwKeyFrameEvery = static_cast<DWORD>(choice.lKey);
    o.dwQuality = static_cast<DWORD>(choice.lQ);
    if (choice.lDataRate > 0) {
        const uint64_t bytes = static_cast<uint64_t>(choice.lDataRate) * kBytesPerKilobyte;
        o.dwBytesPerSecond = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes);
        o.dwFlags |= AVICOMPRESSF_DATARATE;
    }
    if (choice.lKey > 0) {
        o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    }
    o.lpParms = choice.lpState;
    o.cbParms = choice.cbState > 0 ? static_cast<DWORD>(choice.cbState) : 0;
    return o;
}

MovieFill EmptyMovieFill(uint32_t compressorStateBytes) {
    uint64_t state = 0;
    if (compressorStateBytes > 0) {
        const uint64_t chunk = FrameChunkBytes(compressorStateBytes);
        state = (chunk + kAviHeaderArea - 1) / kAviHeaderArea * kAviHeaderArea;
    }
    return MovieFill{kAviHeaderArea + state, kAviHeaderArea + state, 0};
}

uint64_t FrameChunkBytes(uint64_t dataBytes) {
    return kAviChunkHeader + dataBytes + (dataBytes & 1);
}

uint64_t MovieCloseBytes(uint64_t frames) {
    return kAviChunkHeader + kAviIndexEntry * frames + kAviCloseTail;
}

uint64_t ClosedMovieBytes(const MovieFill& fill) {
    return fill.bytes + MovieCloseBytes(fill.frames);
}

void AddMovieFrame(MovieFill& fill, uint64_t dataBytes) {
    fill.bytes += FrameChunkBytes(dataBytes);
    ++fill.frames;
}

bool NextFrameFits(const MovieFill& fill, uint64_t largestFrame, uint64_t limit) {
    // The stream's frame index is a signed 32-bit number.
    if (fill.frames >= 0x7FFFFFFFu) {
        return false;
    }
    return fill.bytes + FrameChunkBytes(largestFrame) +
               MovieCloseBytes(fill.frames + uint64_t{1}) <=
           limit;
}

uint64_t DiskBytesForNextFrame(const MovieFill& fill, uint64_t largestFrame) {
    return FrameChunkBytes(largestFrame) + MovieCloseBytes(fill.frames + uint64_t{1}) +
           fill.headerBytes + kMovieDiskSlack;
}

uint64_t DiskBytesToGoOnInNextFile(const MovieFill& closing, const MovieFill& next,
                                   uint64_t largestFrame) {
    return MovieCloseBytes(closing.frames) + closing.headerBytes +
           DiskBytesForNextFrame(next, largestFrame);
}

bool MovieFolder(const char* path, char* out, size_t outSize) {
    if (outSize == 0) {
        return false;
    }
    out[0] = '\0';
    if (!path) {
        return false;
    }
    // Windows takes a forward slash as a separator too.
    const char* back = std::strrchr(path, '\\');
    const char* forward = std::strrchr(path, '/');
    const char* slash = back > forward ? back : forward;
    if (!slash) {
        return false;
    }
    const size_t length = static_cast<size_t>(slash - path) + 1;
    if (length >= outSize) {
        return false;
    }
    std::memcpy(out, path, length);
    out[length] = '\0';
    return true;
}

bool NumberedMoviePath(const char* stamped, int n, char* out, size_t outSize) {
    if (outSize == 0) {
        return false;
    }
    int written = -1;
    if (n <= 1) {
        written = std::snprintf(out, outSize, "%s", stamped);
    } else {
        const char* dot = std::strrchr(stamped, '.');
        const int stem = static_cast<int>(dot ? dot - stamped : std::strlen(stamped));
        written = std::snprintf(out, outSize, "%.*s_%d%s", stem, stamped, n, dot ? dot : "");
    }
    if (written < 0 || static_cast<size_t>(written) >= outSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace torvanel
