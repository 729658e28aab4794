#include "acquire/connection_status.h"

#include "base/scoped_win.h"

namespace torvanel {

namespace {

const wchar_t* CauseText(PassOutcome outcome) {
    switch (outcome) {
        case PassOutcome::NoConnection:
            return L"接続できません";
        case PassOutcome::Certificate:
            return L"証明書を確認できません";
        case PassOutcome::Unauthorized:
            return L"認証が必要です";
        case PassOutcome::Forbidden:
            return L"アクセスが拒否されました";
        case PassOutcome::NotPicture:
            return L"画像ではありません";
        case PassOutcome::NoAnswer:
            return L"応答がありません";
        default:
            return L"";
    }
}

std::wstring TwoDigits(int value) {
    return std::wstring(1, static_cast<wchar_t>(L'0' + value / 10 % 10)) +
           static_cast<wchar_t>(L'0' + value % 10);
}

}  // namespace

std::wstring CaptionFor(const ConnectionSnapshot& s, ULONGLONG now) {
    const std::wstring plain = L"Torvanel";
    if (!s.active) {
        return plain;
    }
    const bool downloadSilent =
        s.downloadStarted != 0 && now >= s.downloadStarted + kSilenceShownMs;
    const bool failing = downloadSilent || s.failedInARow >= kFailedPassesShown ||
                         (s.failedInARow > 0 && now >= s.since + kSilenceShownMs);
    if (!failing) {
        return plain;
    }
    const PassOutcome cause = downloadSilent ? PassOutcome::NoAnswer : s.outcome;
    std::wstring caption = plain + L" - ";
    if (cause == PassOutcome::HttpError) {
        caption += L"HTTP エラー " + std::to_wstring(s.status);
    } else {
        caption += CauseText(cause);
    }
    if (s.hasPicture) {
        const int t = s.pictureSecondOfDay;
        caption += L" (" + TwoDigits(t / 3600) + L":" + TwoDigits(t / 60 % 60) + L":" +
                   TwoDigits(t % 60) + L" の画像)";
    }
    return caption;
}

void ConnectionStatus::Idle() {
    ExclusiveLock lock(lock_);
    state_.active = false;
    state_.failedInARow = 0;
    state_.downloadStarted = 0;
}

void ConnectionStatus::PassStarted(ULONGLONG now) {
    ExclusiveLock lock(lock_);
    if (!state_.active) {
        state_.active = true;
        state_.since = now;
    }
    state_.downloadStarted = now;
    ++state_.passesStarted;
}

void ConnectionStatus::PassEnded(PassOutcome outcome, uint32_t status, ULONGLONG now,
                                 int32_t secondOfDay) {
    ExclusiveLock lock(lock_);
    state_.downloadStarted = 0;
    if (outcome == PassOutcome::Cancelled) {
        return;
    }
    state_.outcome = outcome;
    state_.status = status;
    if (outcome == PassOutcome::Picture) {
        state_.failedInARow = 0;
        state_.since = now;
        state_.hasPicture = true;
        state_.pictureSecondOfDay = secondOfDay;
    } else if (state_.failedInARow < UINT32_MAX) {
        ++state_.failedInARow;
    }
}

ConnectionSnapshot ConnectionStatus::Read() const {
    SharedLock lock(lock_);
    return state_;
}

}  // namespace torvanel
