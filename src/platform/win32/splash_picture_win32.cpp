#include "platform/win32/splash_picture.h"

namespace qn::win32 {

namespace {

constexpr int kHimetricPerInch = 2540;

struct GlobalTraits {
    static HGLOBAL invalid() noexcept { return nullptr; }
    static void close(HGLOBAL memory) noexcept { GlobalFree(memory); }
};
using UniqueGlobal = Unique<HGLOBAL, GlobalTraits>;

// The whole file in a movable global block, as a stream over it needs; null when unreadable.
UniqueGlobal readIntoGlobalBlock(const std::string& path, DWORD& byteCount) {
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size == 0) return {};
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!memory) return {};
    void* bytes = GlobalLock(memory.get());
    if (!bytes) return {};
    DWORD read = 0;
    const BOOL ok = ReadFile(file.get(), bytes, size, &read, nullptr);
    GlobalUnlock(memory.get());
    if (!ok || read == 0) return {};
    byteCount = read;
    return memory;
}

}  // namespace

void SplashPicture::release() {
    if (picture_) picture_->Release();
    picture_ = nullptr;
}

bool SplashPicture::loadFromFile(const std::string& path) {
    release();
    DWORD byteCount = 0;
    UniqueGlobal memory = readIntoGlobalBlock(path, byteCount);
    if (!memory) return false;
    IStream* stream = nullptr;
    // The stream takes the block over and frees it when it is released.
    if (FAILED(CreateStreamOnHGlobal(memory.get(), TRUE, &stream))) return false;
    memory.release();
    void* picture = nullptr;
    const HRESULT result =
        OleLoadPicture(stream, static_cast<LONG>(byteCount), FALSE, IID_IPicture, &picture);
    stream->Release();
    if (FAILED(result) || !picture) return false;
    picture_ = static_cast<IPicture*>(picture);
    return true;
}

SIZE SplashPicture::pixelSize() const {
    SIZE size{0, 0};
    if (!picture_) return size;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture_->get_Width(&width);
    picture_->get_Height(&height);
    HDC screen = GetDC(nullptr);
    size.cx = MulDiv(width, GetDeviceCaps(screen, LOGPIXELSX), kHimetricPerInch);
    size.cy = MulDiv(height, GetDeviceCaps(screen, LOGPIXELSY), kHimetricPerInch);
    ReleaseDC(nullptr, screen);
    return size;
}

void SplashPicture::renderToBitmap(HWND window, SIZE size) {
    target_ = RECT{0, 0, size.cx, size.cy};
    bitmapSlot_.reset();
    HDC windowDc = GetDC(window);
    if (!windowDc) return;
    bitmapSlot_.reset(CreateCompatibleBitmap(windowDc, target_.right - target_.left,
                                             target_.bottom - target_.top));
    HDC memoryDc = CreateCompatibleDC(windowDc);
    if (memoryDc && bitmapSlot_) {
        const HGDIOBJ previous = SelectObject(memoryDc, bitmapSlot_.get());
        const SIZE own = pixelSize();
        if (own.cx != size.cx || own.cy != size.cy) {
            // Averaged pixels when the picture is enlarged for a high DPI, not repeated ones.
            SetStretchBltMode(memoryDc, HALFTONE);
            SetBrushOrgEx(memoryDc, 0, 0, nullptr);
        }
        if (picture_) {
            OLE_XSIZE_HIMETRIC width = 0;
            OLE_YSIZE_HIMETRIC height = 0;
            picture_->get_Width(&width);
            picture_->get_Height(&height);
            // HIMETRIC runs bottom-up: start at the picture's height and go up by it.
            picture_->Render(memoryDc, target_.left, target_.top, target_.right - target_.left,
                             target_.bottom - target_.top, 0, height, width, -height, nullptr);
        }
        SelectObject(memoryDc, previous);
    }
    if (memoryDc) DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);
}

}  // namespace qn::win32
