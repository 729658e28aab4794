// The caption that tells the camera connection's state, from what the fetch
// thread publishes and the time.
#include <gtest/gtest.h>

#include <string>

#include "acquire/connection_status.h"

namespace torvanel {
namespace {

std::string Utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    }
    return out;
}

TEST(CaptionFor, PlainWhilePicturesArriveElseTheCauseAndTheLastPictureTime) {
    constexpr ULONGLONG t = 1000000;  // a tick well past start
    ConnectionSnapshot live;
    live.active = true;
    live.since = t;
    ConnectionSnapshot seen = live;  // a picture at 09:05:07 came before the trouble
    seen.hasPicture = true;
    seen.pictureSecondOfDay = 9 * 3600 + 5 * 60 + 7;

    const auto failed = [](ConnectionSnapshot s, PassOutcome o, uint32_t n, uint32_t status = 0) {
        s.outcome = o;
        s.failedInARow = n;
        s.status = status;
        return s;
    };
    const auto downloading = [](ConnectionSnapshot s, ULONGLONG since) {
        s.downloadStarted = since;
        return s;
    };
    ConnectionSnapshot idle = failed(seen, PassOutcome::NoConnection, 9);
    idle.active = false;

    const struct {
        const char* what;
        ConnectionSnapshot state;
        ULONGLONG now;
        const char* caption;
    } cases[] = {
        {"pictures arrive", live, t + 500, "Torvanel"},
        {"no URL, whatever came before", idle, t + 60000, "Torvanel"},
        {"two failed passes within 10 s", failed(seen, PassOutcome::NoConnection, 2), t + 9999,
         "Torvanel"},
        {"the third failed pass", failed(seen, PassOutcome::NoConnection, 3), t + 1500,
         "Torvanel - 接続できません (09:05:07 の画像)"},
        {"one failed pass 10 s after the picture", failed(seen, PassOutcome::NotPicture, 1),
         t + 10000, "Torvanel - 画像ではありません (09:05:07 の画像)"},
        {"no picture ever", failed(live, PassOutcome::Unauthorized, 3), t + 1000,
         "Torvanel - 認証が必要です"},
        {"certificate", failed(live, PassOutcome::Certificate, 3), t,
         "Torvanel - 証明書を確認できません"},
        {"403", failed(seen, PassOutcome::Forbidden, 3, 403), t,
         "Torvanel - アクセスが拒否されました (09:05:07 の画像)"},
        {"other status", failed(seen, PassOutcome::HttpError, 3, 503), t,
         "Torvanel - HTTP エラー 503 (09:05:07 の画像)"},
        {"a download under way for 9.9 s", downloading(seen, t), t + 9900, "Torvanel"},
        {"a download under way for 10 s", downloading(seen, t), t + 10000,
         "Torvanel - 応答がありません (09:05:07 の画像)"},
        {"a stalled download outranks an older cause",
         downloading(failed(seen, PassOutcome::NoConnection, 5), t), t + 12000,
         "Torvanel - 応答がありません (09:05:07 の画像)"},
        {"retrying after a stall", downloading(failed(seen, PassOutcome::NoAnswer, 1), t + 10500),
         t + 11000, "Torvanel - 応答がありません (09:05:07 の画像)"},
        {"a picture after failures", failed(seen, PassOutcome::Picture, 0), t + 30000, "Torvanel"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.caption, Utf8(CaptionFor(c.state, c.now))) << c.what;
    }
    ConnectionSnapshot late = failed(seen, PassOutcome::NoConnection, 3);
    late.pictureSecondOfDay = 23 * 3600 + 59 * 60 + 59;
    EXPECT_EQ("Torvanel - 接続できません (23:59:59 の画像)", Utf8(CaptionFor(late, t)));
}

TEST(ConnectionStatus, PassesCountFailuresAndAPictureClearsThem) {
    ConnectionStatus status;
    EXPECT_FALSE(status.Read().active);
    status.PassStarted(100);
    ConnectionSnapshot s = status.Read();
    EXPECT_TRUE(s.active);
    EXPECT_EQ(100u, s.since) << "the silence counts from the first pass with a URL";
    EXPECT_EQ(100u, s.downloadStarted);

    status.PassEnded(PassOutcome::Picture, 200, 150, 3600);
    s = status.Read();
    EXPECT_EQ(0u, s.downloadStarted);
    EXPECT_EQ(150u, s.since);
    EXPECT_TRUE(s.hasPicture);
    EXPECT_EQ(3600, s.pictureSecondOfDay);

    for (ULONGLONG at = 200; at < 500; at += 100) {
        status.PassStarted(at);
        status.PassEnded(PassOutcome::HttpError, 404, at + 10, 7200);
    }
    s = status.Read();
    EXPECT_EQ(3u, s.failedInARow);
    EXPECT_EQ(404u, s.status);
    EXPECT_EQ(150u, s.since);
    EXPECT_EQ(3600, s.pictureSecondOfDay) << "only a picture moves its time";

    // The quit says nothing about the camera.
    status.PassStarted(600);
    status.PassEnded(PassOutcome::Cancelled, 0, 610, 0);
    s = status.Read();
    EXPECT_EQ(3u, s.failedInARow);
    EXPECT_EQ(PassOutcome::HttpError, s.outcome);
    EXPECT_EQ(0u, s.downloadStarted);

    status.Idle();
    s = status.Read();
    EXPECT_FALSE(s.active);
    EXPECT_EQ(0u, s.failedInARow);
    status.PassStarted(5000);
    EXPECT_EQ(5000u, status.Read().since) << "a URL set again starts the silence afresh";

    status.PassEnded(PassOutcome::Picture, 200, 5100, 10);
    EXPECT_EQ(0u, status.Read().failedInARow);
    EXPECT_EQ(6u, status.Read().passesStarted);
}

}  // namespace
}  // namespace torvanel
