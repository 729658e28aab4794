#include "settings/settings_store.h"

#include <cstring>

#include "app/app_state.h"
#include "base/scoped_win.h"

namespace torvanel {

const char* const kSettingsKeyPath = "Software\\Kembrisk\\torvanel";

namespace {
ScopedKey OpenForAllAccess(HKEY root, const char* subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return ScopedKey();
    }
    return ScopedKey(key);
}

ScopedKey CreateForWrite(HKEY root, const char* subkey) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return ScopedKey();
    }
    return ScopedKey(key);
}
}  // namespace

int32_t ReadDwordSetting(HKEY root, const char* subkey, const char* name, int32_t fallback) {
    ScopedKey key = OpenForAllAccess(root, subkey);
    if (!key) {
        return fallback;
    }
    DWORD type = 0;
    DWORD word = 0;
    DWORD size = sizeof word;
    LONG rc =
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&word), &size);
    // Anything but a 4-byte REG_DWORD was not written by us: use the default.
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof word) {
        return fallback;
    }
    return static_cast<int32_t>(word);
}

int WriteDwordSetting(HKEY root, const char* subkey, const char* name, int32_t value) {
    ScopedKey key = CreateForWrite(root, subkey);
    if (!key) {
        return 0;
    }
    DWORD word = static_cast<DWORD>(value);
    RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word),
                   sizeof word);
    return 1;
}

int ReadStringSetting(HKEY root, const char* subkey, const char* name, char* buffer, DWORD limit) {
    ScopedKey key = OpenForAllAccess(root, subkey);
    if (!key) {
        return 0;
    }
    if (limit == 0) {
        return 1;
    }
    buffer[0] = '\0';
    DWORD type = 0;
    DWORD size = limit;
    LONG rc =
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS || type != REG_SZ || size > limit) {
        // Too long, of another type, or missing: an empty text, never a partial one.
        std::memset(buffer, 0, limit);
        return 1;
    }
    // Data stored without its terminator still ends inside the limit.
    if (size < limit) {
        buffer[size] = '\0';
    } else if (buffer[limit - 1] != '\0') {
        std::memset(buffer, 0, limit);
    }
    return 1;
}

int WriteStringSetting(HKEY root, const char* subkey, const char* name, const char* text) {
    ScopedKey key = CreateForWrite(root, subkey);
    if (!key) {
        return 0;
    }
    RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
    return 1;
}

void LoadSettings() {
    Settings& s = app.settings;
    HKEY root = HKEY_CURRENT_USER;
    const char* path = kSettingsKeyPath;
    s.CaptureTime = ReadDwordSetting(root, path, "CaptureTime", kDefaultCaptureTime);
    s.Frame = ReadDwordSetting(root, path, "Frame", kDefaultFrame);
    s.PerSec = ReadDwordSetting(root, path, "PerSec", kDefaultPerSec);
    {
        ExclusiveLock lock(app.urlLock);
        s.url[0] = '\0';
        ReadStringSetting(root, path, "url", s.url, kTextSize - 1);
    }
    s.WaitTime = ReadDwordSetting(root, path, "WaitTime", kDefaultWaitTime);
    s.TimerSec = ReadDwordSetting(root, path, "TimerSec", kDefaultTimerSec);
    s.CheckFlg = ReadDwordSetting(root, path, "CheckFlg", kDefaultCheckFlg);
    s.ErrorRate = ReadDwordSetting(root, path, "ErrorRate", kDefaultErrorRate);
    s.NoiseLevel = ReadDwordSetting(root, path, "NoiseLevel", kDefaultNoiseLevel);
}

}  // namespace torvanel
