// What the fetch thread tells about the camera connection, and the caption
// that the user-interface thread makes of it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace torvanel {

// How one pass ended.
enum class PassOutcome : int32_t {
    Picture,       // a new picture was decoded
    NoConnection,  // refused, unknown host, network down, the answer broke off
    Certificate,   // HTTPS certificate not trusted
    Unauthorized,  // 401
    Forbidden,     // 403
    HttpError,     // any other status outside 200-299
    NotPicture,    // a body that does not decode as a picture
    NoAnswer,      // the download was given up by its bounds
    Cancelled,     // the tool is quitting: says nothing about the camera
};

// The caption turns when no picture came for this many passes in a row, or
// for this long.
constexpr uint32_t kFailedPassesShown = 3;
constexpr ULONGLONG kSilenceShownMs = 10000;

struct ConnectionSnapshot {
    bool active = false;                         // a URL is set
    PassOutcome outcome = PassOutcome::Picture;  // of the last pass that ended
    uint32_t status = 0;                         // its HTTP status, when it had one
    uint32_t failedInARow = 0;
    ULONGLONG since = 0;             // tick of the last picture, or of the first pass with a URL
    ULONGLONG downloadStarted = 0;   // tick when the pass under way began; 0 between passes
    bool hasPicture = false;         // a picture was decoded in this run
    int32_t pictureSecondOfDay = 0;  // its local time of day, in seconds
    uint64_t passesStarted = 0;
};

// The caption for that state at tick now: exactly "Torvanel" while pictures
// arrive or no URL is set; otherwise "Torvanel - " with the cause and, once a
// picture has been seen, " (HH:MM:SS の画像)".
std::wstring CaptionFor(const ConnectionSnapshot& state, ULONGLONG now);

// Written by the fetch thread, read by the user-interface thread; the lock
// keeps the fields of one snapshot together.
class ConnectionStatus {
public:
    void Idle();
    void PassStarted(ULONGLONG now);
    void PassEnded(PassOutcome outcome, uint32_t status, ULONGLONG now, int32_t secondOfDay);
    ConnectionSnapshot Read() const;

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    ConnectionSnapshot state_;
};

}  // namespace torvanel
