#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app_state.h"

namespace torvanel {
namespace {

// Runs against the real registry of the test's Wine prefix; each test starts
// and ends without the tool's key.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kembrisk"); }

    static void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void Poison() {
        // Make sure every field really is written by LoadSettings.
        app.settings.CaptureTime = app.settings.Frame = app.settings.PerSec = -77;
        app.settings.WaitTime = app.settings.TimerSec = app.settings.CheckFlg = -77;
        app.settings.ErrorRate = app.settings.NoiseLevel = -77;
        std::memset(app.settings.url, 0, sizeof app.settings.url);
        std::strcpy(app.settings.url, "stale");
    }
    static bool KeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) !=
            ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
};

TEST_F(SettingsStore, MissingKeyGivesTheDefaultsAndWritesNothing) {
    Poison();
    LoadSettings();
    const Settings& s = app.settings;
    EXPECT_EQ(500, s.CaptureTime);
    EXPECT_EQ(5, s.Frame);
    EXPECT_EQ(1, s.PerSec);
    EXPECT_STREQ("", s.url);
    EXPECT_EQ(500, s.WaitTime);
    EXPECT_EQ(5, s.TimerSec);
    EXPECT_EQ(0, s.CheckFlg);
    EXPECT_EQ(30, s.ErrorRate);
    EXPECT_EQ(0, s.NoiseLevel);
    EXPECT_FALSE(KeyExists());
}

TEST_F(SettingsStore, PresentValuesAreUsedAndTheOthersDefault) {
    ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "WaitTime", 40));
    ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "CheckFlg", 2));
    ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "NoiseLevel", 12));
    ASSERT_EQ(1, WriteStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url",
                                    "http://127.0.0.1:8080/cam.jpg"));
    Poison();
    LoadSettings();
    const Settings& s = app.settings;
    EXPECT_EQ(500, s.CaptureTime);
    EXPECT_EQ(5, s.Frame);
    EXPECT_EQ(1, s.PerSec);
    EXPECT_STREQ("http://127.0.0.1:8080/cam.jpg", s.url);
    EXPECT_EQ(40, s.WaitTime);
    EXPECT_EQ(5, s.TimerSec);
    EXPECT_EQ(2, s.CheckFlg);  // taken unchanged; the detector runs only for exactly 1
    EXPECT_EQ(30, s.ErrorRate);
    EXPECT_EQ(12, s.NoiseLevel);

    // And the other way round: only NoiseLevel missing.
    Clear();
    const char* const others[] = {"CaptureTime", "Frame",    "PerSec",   "WaitTime",
                                  "TimerSec",    "CheckFlg", "ErrorRate"};
    for (const char* name : others) {
        ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, name, 7));
    }
    Poison();
    LoadSettings();
    EXPECT_EQ(7, s.ErrorRate);
    EXPECT_EQ(0, s.NoiseLevel);
}

TEST_F(SettingsStore, NumbersRoundTripAsSigned32BitWords) {
    const int32_t values[] = {-5, 0, INT32_MIN, INT32_MAX, 123456};
    for (int32_t v : values) {
        ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "TimerSec", v));
        EXPECT_EQ(v, ReadDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "TimerSec", 99));
    }
    // Two's complement on disk: -5 is 0xfffffffb.
    DWORD raw = 0;
    DWORD size = sizeof raw;
    WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "TimerSec", -5);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "TimerSec",
                                          RRF_RT_REG_DWORD, nullptr, &raw, &size));
    EXPECT_EQ(0xfffffffbu, raw);
}

TEST_F(SettingsStore, NoiseLevelRoundTripsUnchanged) {
    // The store keeps what was written, out of range or not; the count decides
    // what such a level means.
    const int32_t values[] = {-1, 0, 16, 255, 300, INT32_MIN};
    for (int32_t v : values) {
        ASSERT_EQ(1, WriteDwordSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "NoiseLevel", v));
        Poison();
        LoadSettings();
        EXPECT_EQ(v, app.settings.NoiseLevel);
    }
}

TEST_F(SettingsStore, A254CharacterUrlReadsBackWholeAndTerminated) {
    const std::string url = "http://127.0.0.1/" + std::string(254 - 17, 'u');
    ASSERT_EQ(254u, url.size());
    ASSERT_EQ(1, WriteStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url", url.c_str()));
    std::memset(app.settings.url, 0, sizeof app.settings.url);
    LoadSettings();
    EXPECT_EQ(url, std::string(app.settings.url));
    EXPECT_EQ('\0', app.settings.url[254]);
    EXPECT_EQ('\0', app.settings.url[255]);
}

TEST_F(SettingsStore, ValuesOfAnotherTypeOrSizeReadAsTheDefault) {
    const char text[] = "42";
    const unsigned long long wide = 7;
    const BYTE two[2] = {1, 2};
    SetRaw("CaptureTime", REG_SZ, text, sizeof text);
    SetRaw("Frame", REG_QWORD, &wide, sizeof wide);
    SetRaw("PerSec", REG_BINARY, two, sizeof two);
    SetRaw("NoiseLevel", REG_SZ, text, sizeof text);
    const DWORD word = 9;
    SetRaw("url", REG_DWORD, &word, sizeof word);  // a number where the text belongs
    Poison();
    LoadSettings();
    EXPECT_EQ(500, app.settings.CaptureTime);
    EXPECT_EQ(5, app.settings.Frame);
    EXPECT_EQ(1, app.settings.PerSec);
    EXPECT_EQ(0, app.settings.NoiseLevel);
    EXPECT_STREQ("", app.settings.url);
    SetRaw("NoiseLevel", REG_QWORD, &wide, sizeof wide);
    Poison();
    LoadSettings();
    EXPECT_EQ(0, app.settings.NoiseLevel);

    // A text that does not fit in 255 bytes with its terminator reads as empty.
    const std::string tooLong(255, 'x');
    SetRaw("url", REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));
    Poison();
    LoadSettings();
    EXPECT_STREQ("", app.settings.url);
    EXPECT_EQ('\0', app.settings.url[255]);

    // Stored without its terminator but within the limit: read whole.
    SetRaw("url", REG_SZ, "abc", 3);
    Poison();
    LoadSettings();
    EXPECT_STREQ("abc", app.settings.url);
}

TEST_F(SettingsStore, WritesCreateTheKeyAndItsParents) {
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(1, WriteStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url", ""));
    EXPECT_TRUE(KeyExists());
    char buffer[16] = "unchanged";
    EXPECT_EQ(1, ReadStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url", buffer, 15));
    EXPECT_STREQ("", buffer);
    // A missing key leaves the buffer alone and says so.
    Clear();
    std::strcpy(buffer, "unchanged");
    EXPECT_EQ(0, ReadStringSetting(HKEY_CURRENT_USER, kSettingsKeyPath, "url", buffer, 15));
    EXPECT_STREQ("unchanged", buffer);
}

}  // namespace
}  // namespace torvanel
