// Windows text is the ANSI code page.
#include "platform/text_encoding.h"

#include "platform/win32/windows_h.h"

namespace qn::platform {

std::u16string toUtf16(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

}  // namespace qn::platform
