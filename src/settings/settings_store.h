// The nine settings, kept per user as values of one registry key.
#pragma once

#include <windows.h>

#include <cstdint>

namespace torvanel {

extern const char* const kSettingsKeyPath;  // "Software\Kembrisk\torvanel"

// Defaults, in the order LoadSettings reads them.
constexpr int32_t kDefaultCaptureTime = 500;
constexpr int32_t kDefaultFrame = 5;
constexpr int32_t kDefaultPerSec = 1;
constexpr int32_t kDefaultWaitTime = 500;
constexpr int32_t kDefaultTimerSec = 5;
constexpr int32_t kDefaultCheckFlg = 0;
constexpr int32_t kDefaultErrorRate = 30;
// 0: any difference in a colour byte counts.
constexpr int32_t kDefaultNoiseLevel = 0;

// Each opens the key, does one access and closes it again. A value of another
// type or size than the read expects reads as the default (or an empty text).
int32_t ReadDwordSetting(HKEY root, const char* subkey, const char* name, int32_t fallback);
int WriteDwordSetting(HKEY root, const char* subkey, const char* name, int32_t value);
// limit: bytes the query may write into buffer, terminator included.
int ReadStringSetting(HKEY root, const char* subkey, const char* name, char* buffer, DWORD limit);
int WriteStringSetting(HKEY root, const char* subkey, const char* name, const char* text);

// Fills app.settings from HKEY_CURRENT_USER, each value falling back to its default.
void LoadSettings();

}  // namespace torvanel
