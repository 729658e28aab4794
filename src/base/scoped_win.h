// Small owners for Win32 handles: one type per close function, copy deleted,
// move allowed, each with its own empty value.
#pragma once

#include <windows.h>

#include <utility>

namespace torvanel {

template <typename T, typename Traits>
class Scoped {
public:
    Scoped() = default;
    explicit Scoped(T value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : value_(other.Release()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    T Get() const { return value_; }
    bool Valid() const { return value_ != Traits::Empty(); }
    explicit operator bool() const { return Valid(); }
    T Release() { return std::exchange(value_, Traits::Empty()); }
    void Reset(T value = Traits::Empty()) {
        if (value_ != Traits::Empty()) {
            Traits::Close(value_);
        }
        value_ = value;
    }

private:
    T value_ = Traits::Empty();
};

struct HandleTraits {
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
// CreateFile reports failure as INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct MemoryDcTraits {
    static HDC Empty() { return nullptr; }
    static void Close(HDC dc) { DeleteDC(dc); }
};
template <typename T>
struct GdiObjectTraits {
    static T Empty() { return nullptr; }
    static void Close(T obj) { DeleteObject(obj); }
};
struct KeyTraits {
    static HKEY Empty() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
struct MenuTraits {
    static HMENU Empty() { return nullptr; }
    static void Close(HMENU menu) { DestroyMenu(menu); }
};
struct GlobalTraits {
    static HGLOBAL Empty() { return nullptr; }
    static void Close(HGLOBAL mem) { GlobalFree(mem); }
};

using ScopedHandle = Scoped<HANDLE, HandleTraits>;
using ScopedFile = Scoped<HANDLE, FileHandleTraits>;
using ScopedMemoryDc = Scoped<HDC, MemoryDcTraits>;
using ScopedBitmap = Scoped<HBITMAP, GdiObjectTraits<HBITMAP>>;
using ScopedKey = Scoped<HKEY, KeyTraits>;
using ScopedMenu = Scoped<HMENU, MenuTraits>;
using ScopedGlobal = Scoped<HGLOBAL, GlobalTraits>;

// A window's DC remembers its window, because ReleaseDC needs both.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window) { dc_ = BeginPaint(window, &ps_); }
    ~PaintDc() { EndPaint(window_, &ps_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};

// Selects an object into a DC and puts the previous one back on scope exit.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(dc ? SelectObject(dc, obj) : nullptr) {}
    ~SelectGuard() {
        if (old_ && old_ != HGDI_ERROR) {
            SelectObject(dc_, old_);
        }
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    bool Selected() const { return old_ != nullptr && old_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// SRWLOCK needs no clean-up and is zero-initialised, so it can live in static storage.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

class SharedLock {
public:
    explicit SharedLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~SharedLock() { ReleaseSRWLockShared(&lock_); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace torvanel
