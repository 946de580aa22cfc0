#pragma once
// The splash picture: decoded once from the file's bytes and rendered once into a bitmap.

#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_h.h"

namespace qn::win32 {

struct BitmapTraits {
    static HBITMAP invalid() noexcept { return nullptr; }
    static void close(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
};
using UniqueBitmap = Unique<HBITMAP, BitmapTraits>;

/// Lives only while the splash window is being created; the bitmap outlives it in its slot.
class SplashPicture {
public:
    explicit SplashPicture(UniqueBitmap& bitmapSlot) : bitmapSlot_(bitmapSlot) {}
    ~SplashPicture() { release(); }
    SplashPicture(const SplashPicture&) = delete;
    SplashPicture& operator=(const SplashPicture&) = delete;

    /// False, leaving the picture empty, when the file cannot be read or decoded.
    bool loadFromFile(const std::string& path);
    /// The picture's own size in pixels; 0 by 0 when empty.
    SIZE pixelSize() const;
    /// Renders the picture, stretched to `size`, into a new bitmap compatible with the window.
    void renderToBitmap(HWND window, SIZE size);

private:
    void release();

    IPicture* picture_ = nullptr;
    RECT target_{};
    UniqueBitmap& bitmapSlot_;
};

}  // namespace qn::win32
