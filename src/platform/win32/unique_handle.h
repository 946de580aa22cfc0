#pragma once
// Owns one Win32 handle of a kind: move-only, closed exactly once. Traits give the invalid value
// and the close function, so each kind of handle has its own alias below.

#include <utility>

#include "platform/win32/windows_h.h"

namespace qn::win32 {

template <typename T, typename Traits>
class Unique {
public:
    Unique() noexcept = default;
    explicit Unique(T value) noexcept : value_(value) {}
    ~Unique() { close(); }

    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    /// Closes the current handle and takes `value`; the caller's last error survives the close.
    void reset(T value = Traits::invalid()) noexcept {
        if (value_ == value) return;
        close();
        value_ = value;
    }
    /// Gives up ownership without closing.
    T release() noexcept { return std::exchange(value_, Traits::invalid()); }
    /// For out-parameters: closes the current handle and gives the slot to fill.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    void close() noexcept {
        if (value_ == Traits::invalid()) return;
        // Closing must not disturb the error code a caller is about to read.
        const DWORD lastError = GetLastError();
        Traits::close(value_);
        SetLastError(lastError);
        value_ = Traits::invalid();
    }

    T value_ = Traits::invalid();
};

struct NullHandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct InvalidHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct FindHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) noexcept { FindClose(handle); }
};
struct RegistryKeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { RegCloseKey(key); }
};
struct ModuleTraits {
    static HMODULE invalid() noexcept { return nullptr; }
    static void close(HMODULE module) noexcept { FreeLibrary(module); }
};
struct WindowTraits {
    static HWND invalid() noexcept { return nullptr; }
    static void close(HWND window) noexcept { DestroyWindow(window); }
};
struct MappedViewTraits {
    static void* invalid() noexcept { return nullptr; }
    static void close(void* view) noexcept { UnmapViewOfFile(view); }
};

/// Threads, events, mappings: handles that are null when invalid.
using UniqueHandle = Unique<HANDLE, NullHandleTraits>;
/// Files: handles that are INVALID_HANDLE_VALUE when invalid.
using UniqueFile = Unique<HANDLE, InvalidHandleTraits>;
/// FindFirstFileA searches.
using UniqueFind = Unique<HANDLE, FindHandleTraits>;
using UniqueKey = Unique<HKEY, RegistryKeyTraits>;
/// A library that may be unloaded. The runtime library and the native splash library are kept
/// for the life of the process and never held in one of these.
using UniqueModule = Unique<HMODULE, ModuleTraits>;
using UniqueWindow = Unique<HWND, WindowTraits>;
using UniqueView = Unique<void*, MappedViewTraits>;

}  // namespace qn::win32
