#include "acquire/http_fetcher.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "base/scoped_win.h"

namespace torvanel {

namespace {

constexpr char kUserAgent[] = "torvanel";
constexpr char kAcceptHeader[] = "Accept: */*\r\n";
constexpr DWORD kReadSize = 16 * 1024;
constexpr size_t kWriteBuffer = 1 << 16;
constexpr int kMaxChallenges = 16;

struct InternetTraits {
    static HINTERNET Empty() { return nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using ScopedInternet = Scoped<HINTERNET, InternetTraits>;

struct StreamTraits {
    static FILE* Empty() { return nullptr; }
    static void Close(FILE* f) { std::fclose(f); }
};
using ScopedStream = Scoped<FILE*, StreamTraits>;

// What the fetch thread and WinINet's callback share for one request. WinINet
// may complete a call, writing available, readCount and buffer, long after the
// fetch thread gave the request up, so these live here and not on its stack.
struct Transfer {
    ScopedHandle done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // one completion per call
    std::atomic<DWORD_PTR> result{0};
    std::atomic<DWORD> error{0};
    std::atomic<HINTERNET> request{nullptr};
    DWORD available = 0;
    DWORD readCount = 0;
    char buffer[kReadSize];
};

// Transfers by the context value WinINet hands back. The callback finds its
// transfer here rather than through a pointer, so a call for a transfer that
// has gone finds nothing. A transfer leaves when its request handle reports its
// closing, the last call WinINet makes for it; a stalled request reports that
// only once the server lets go, which may be minutes after it was given up.
class TransferTable {
public:
    DWORD_PTR Add(std::shared_ptr<Transfer> transfer) {
        ExclusiveLock lock(lock_);
        const DWORD_PTR id = ++last_;  // never 0: WinINet makes no calls for context 0
        live_.emplace(id, std::move(transfer));
        return id;
    }
    std::shared_ptr<Transfer> Find(DWORD_PTR id) {
        SharedLock lock(lock_);
        const auto it = live_.find(id);
        return it == live_.end() ? nullptr : it->second;
    }
    void Remove(DWORD_PTR id) {
        std::shared_ptr<Transfer> last;  // freed outside the lock
        ExclusiveLock lock(lock_);
        const auto it = live_.find(id);
        if (it != live_.end()) {
            last = std::move(it->second);
            live_.erase(it);
        }
    }
    size_t Size() {
        SharedLock lock(lock_);
        return live_.size();
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    DWORD_PTR last_ = 0;
    std::map<DWORD_PTR, std::shared_ptr<Transfer>> live_;
};

// Never destroyed: WinINet's threads may still call back while the process exits.
TransferTable& Transfers() {
    static TransferTable* table = new TransferTable();
    return *table;
}

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                       DWORD infoLength) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE && status != INTERNET_STATUS_HANDLE_CLOSING) {
        return;
    }
    const std::shared_ptr<Transfer> transfer = Transfers().Find(context);
    if (!transfer) {
        return;
    }
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        if (handle == transfer->request.load()) {
            Transfers().Remove(context);
        }
        return;
    }
    if (info && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        transfer->result = outcome->dwResult;
        transfer->error = outcome->dwError;
    } else {
        transfer->result = 0;
        transfer->error = ERROR_INTERNET_INTERNAL_ERROR;
    }
    SetEvent(transfer->done.Get());
}

// The fetch thread's hold on one transfer. Leaving it takes the transfer out of
// the table, unless a request handle was made: then that handle's closing does.
class TransferTicket {
public:
    TransferTicket() : transfer_(std::make_shared<Transfer>()), id_(Transfers().Add(transfer_)) {}
    ~TransferTicket() {
        if (!transfer_->request.load()) {
            Transfers().Remove(id_);
        }
    }
    TransferTicket(const TransferTicket&) = delete;
    TransferTicket& operator=(const TransferTicket&) = delete;

    Transfer& Get() const { return *transfer_; }
    DWORD_PTR Id() const { return id_; }

private:
    std::shared_ptr<Transfer> transfer_;
    DWORD_PTR id_;
};

// The two bounds of one download, from its start and from its last progress.
class Deadline {
public:
    explicit Deadline(DownloadLimits limits)
        : limits_(limits), start_(GetTickCount64()), progress_(start_) {}
    void Progress() { progress_ = GetTickCount64(); }
    DWORD Remaining() const {
        const ULONGLONG end = std::min(progress_ + limits_.stallMs, start_ + limits_.totalMs);
        const ULONGLONG now = GetTickCount64();
        return now >= end ? 0 : static_cast<DWORD>(end - now);
    }

private:
    DownloadLimits limits_;
    ULONGLONG start_;
    ULONGLONG progress_;
};

// Waits for the call under way to complete, within the deadline; the cancel
// event ends the wait at once. Nothing when it completed, else how the
// download ends.
std::optional<DownloadEnd> Await(const Transfer& transfer, const Deadline& deadline,
                                 HANDLE cancel) {
    const HANDLE events[2] = {transfer.done.Get(), cancel};
    const DWORD rc = WaitForMultipleObjects(cancel ? 2 : 1, events, FALSE, deadline.Remaining());
    if (rc == WAIT_OBJECT_0) {
        return std::nullopt;
    }
    if (rc == WAIT_OBJECT_0 + 1) {
        return DownloadEnd::Cancelled;
    }
    return DownloadEnd::Stalled;  // the bound, or a failed wait, which gives up alike
}

// Starts an asynchronous call and sees it through: nothing when it succeeded,
// else how the download ends. *waited tells whether it had to wait.
template <typename Call>
std::optional<DownloadEnd> Complete(Transfer& transfer, const Deadline& deadline, HANDLE cancel,
                                    Call call, bool* waited = nullptr) {
    // No reset first: the event is auto-reset, and only a call that waits is
    // completed through it, each such wait taking its one completion.
    if (waited) {
        *waited = false;
    }
    if (call()) {
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        return EndForError(error);
    }
    if (waited) {
        *waited = true;
    }
    if (const std::optional<DownloadEnd> end = Await(transfer, deadline, cancel)) {
        return end;
    }
    if (transfer.result.load()) {
        return std::nullopt;
    }
    return EndForError(transfer.error.load());
}

struct UrlParts {
    std::string host;
    INTERNET_PORT port;
    bool secure;
    std::string target;
};

bool CrackUrl(const char* url, UrlParts* parts) {
    if (!url || !*url) {
        return false;
    }
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof(c);
    // Non-zero lengths without buffers: the parts come back as pointers into url.
    c.dwHostNameLength = 1;
    c.dwUrlPathLength = 1;
    c.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(url, 0, 0, &c) || !c.lpszHostName || c.dwHostNameLength == 0) {
        return false;
    }
    if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) {
        return false;
    }
    parts->host.assign(c.lpszHostName, c.dwHostNameLength);
    parts->port = c.nPort;
    parts->secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    std::string target;
    if (c.lpszUrlPath) {
        target.assign(c.lpszUrlPath, c.dwUrlPathLength);
    }
    if (c.lpszExtraInfo) {
        target.append(c.lpszExtraInfo, c.dwExtraInfoLength);
    }
    // The fragment belongs to the reader of the page, never to the request.
    target = target.substr(0, target.find('#'));
    if (target.empty() || target[0] != '/') {
        target.insert(0, "/");
    }
    parts->target = std::move(target);
    return true;
}

uint32_t QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        return 0;
    }
    return status;
}

// Every WWW-Authenticate header of the answer, in order.
std::vector<std::string> QueryChallenges(HINTERNET request) {
    std::vector<std::string> values;
    DWORD index = 0;
    std::string value(1024, '\0');
    while (values.size() < kMaxChallenges) {
        DWORD size = static_cast<DWORD>(value.size());
        DWORD at = index;
        if (HttpQueryInfoA(request, HTTP_QUERY_WWW_AUTHENTICATE, &value[0], &size, &at)) {
            values.emplace_back(value.c_str(), size);
            index = at;
        } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > value.size() &&
                   size <= 64 * 1024) {
            value.assign(size + 1, '\0');  // the same header again, with room
        } else {
            break;
        }
    }
    return values;
}

// The announced body length, when the server sent a readable one.
bool QueryContentLength(HINTERNET request, uint64_t* length) {
    char text[32] = {};
    DWORD size = sizeof(text);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
        return false;
    }
    text[sizeof(text) - 1] = '\0';
    return ParseContentLength(text, length);
}

// Copies the body into path as it arrives. Body only when it is whole: WinINet
// reports a body cut off by the server as a normal end, so only the comparison
// with Content-Length tells.
DownloadEnd CopyBody(HINTERNET request, Transfer& transfer, Deadline& deadline, HANDLE cancel,
                     const char* path) {
    uint64_t announced = 0;
    const bool lengthKnown = QueryContentLength(request, &announced);
    if (lengthKnown && announced > kMaxBodyBytes) {
        return DownloadEnd::TooLarge;
    }
    ScopedStream out(std::fopen(path, "wb"));
    if (!out) {
        return DownloadEnd::LocalFailure;
    }
    // One write for a camera picture instead of a dozen 4 KiB ones.
    std::setvbuf(out.Get(), nullptr, _IOFBF, kWriteBuffer);
    uint64_t received = 0;
    for (;;) {
        // Data that is always at hand never waits, so the whole bound is checked
        // here too; such a body reaches kMaxBodyBytes within moments, which
        // bounds how long it can keep the cancel event unseen.
        if (deadline.Remaining() == 0) {
            return DownloadEnd::Stalled;
        }
        bool waited = false;
        std::optional<DownloadEnd> end = Complete(
            transfer, deadline, cancel,
            [&] {
                transfer.available = 0;
                return InternetQueryDataAvailable(request, &transfer.available, 0, 0) != FALSE;
            },
            &waited);
        if (end) {
            return *end;
        }
        if (transfer.available == 0) {
            // Nothing left when answered at once; after a wait, the next query tells.
            if (!waited) {
                break;
            }
            continue;
        }
        const DWORD ask = std::min(transfer.available, kReadSize);
        end = Complete(transfer, deadline, cancel, [&] {
            transfer.readCount = 0;
            return InternetReadFile(request, transfer.buffer, ask, &transfer.readCount) != FALSE;
        });
        if (end) {
            return *end;
        }
        const DWORD got = transfer.readCount;
        if (got == 0) {
            break;
        }
        if (received + got > kMaxBodyBytes) {
            return DownloadEnd::TooLarge;
        }
        if (std::fwrite(transfer.buffer, 1, got, out.Get()) != got) {
            return DownloadEnd::LocalFailure;
        }
        received += got;
        deadline.Progress();
    }
    if (std::fclose(out.Release()) != 0) {
        return DownloadEnd::LocalFailure;
    }
    if (lengthKnown && received != announced) {
        return DownloadEnd::NoConnection;
    }
    return DownloadEnd::Body;
}

DownloadEnd Fetch(const DownloadRequest& request, const char* path, DownloadResult* result) {
    UrlParts parts;
    if (!CrackUrl(request.url, &parts)) {
        return DownloadEnd::NoConnection;
    }
    Deadline deadline(request.limits);
    // A session of its own for each download: no connection is kept between pictures.
    ScopedInternet session(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                         INTERNET_FLAG_ASYNC));
    if (!session) {
        return DownloadEnd::NoConnection;
    }
    if (InternetSetStatusCallback(session.Get(), OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        return DownloadEnd::NoConnection;
    }
    ScopedInternet connection(InternetConnectA(session.Get(), parts.host.c_str(), parts.port,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) {
        return DownloadEnd::NoConnection;
    }
    // Declared before the request handle, so it is left after that handle is closed.
    TransferTicket ticket;
    Transfer& transfer = ticket.Get();
    if (!transfer.done) {
        return DownloadEnd::NoConnection;
    }
    // NO_AUTH: WinINet never answers a challenge itself, so login behaves the
    // same under every WinINet; the fetch loop answers 401 instead.
    const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                        (parts.secure ? INTERNET_FLAG_SECURE : 0);
    ScopedInternet handle(HttpOpenRequestA(connection.Get(), "GET", parts.target.c_str(), nullptr,
                                           nullptr, nullptr, flags, ticket.Id()));
    if (!handle) {
        return DownloadEnd::NoConnection;
    }
    transfer.request = handle.Get();

    std::string headers = kAcceptHeader;
    if (request.authorization && *request.authorization) {
        headers.append("Authorization: ").append(request.authorization).append("\r\n");
    }
    headers.append("\r\n");
    if (const std::optional<DownloadEnd> end = Complete(transfer, deadline, request.cancel, [&] {
            return HttpSendRequestA(handle.Get(), headers.c_str(),
                                    static_cast<DWORD>(headers.size()), nullptr, 0) != FALSE;
        })) {
        return *end;
    }
    deadline.Progress();
    result->status = QueryStatus(handle.Get());
    if (result->status < 200 || result->status > 299) {
        if (result->status == 401) {
            result->challenges = QueryChallenges(handle.Get());
        }
        return DownloadEnd::Status;
    }
    return CopyBody(handle.Get(), transfer, deadline, request.cancel, path);
}

}  // namespace

DownloadResult DownloadBody(const DownloadRequest& request, const char* path) {
    DownloadResult result{DownloadEnd::NoConnection, 0, {}};
    if (!path) {
        result.end = DownloadEnd::LocalFailure;
        return result;
    }
    result.end = Fetch(request, path, &result);
    if (result.end != DownloadEnd::Body) {
        DeleteFileA(path);
    }
    return result;
}

bool RequestTarget(const char* url, std::string* target) {
    UrlParts parts;
    if (!target || !CrackUrl(url, &parts)) {
        return false;
    }
    *target = parts.target;
    return true;
}

DownloadEnd EndForError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
            return DownloadEnd::Certificate;
        case ERROR_INTERNET_OPERATION_CANCELLED:
            return DownloadEnd::Cancelled;
        default:
            return DownloadEnd::NoConnection;
    }
}

bool ParseContentLength(const char* text, uint64_t* length) {
    if (!text || !*text || !length) {
        return false;
    }
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    *length = value;
    return true;
}

size_t PendingTransfers() {
    return Transfers().Size();
}

}  // namespace torvanel
