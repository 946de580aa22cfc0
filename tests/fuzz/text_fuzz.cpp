// Modified UTF-8 from the runtime, UTF-16 of the launcher's text, line breaks and colour texts.
#include "fuzz_input.h"
#include "platform/text_encoding.h"
#include "text/colour_text.h"
#include "text/modified_utf8.h"

namespace {

std::u16string withoutLoneSurrogates(const std::u16string& text) {
    std::u16string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            result += c;
            result += text[++i];
        } else {
            result += high || low ? char16_t(0xFFFD) : c;
        }
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string decoded = qn::decodeModifiedUtf8(bytes);
    QN_FUZZ_CHECK(decoded.size() <= bytes.size());
    // Standard UTF-8 of any UTF-16 text decodes to that text, lone surrogates replaced.
    const std::u16string clean = withoutLoneSurrogates(decoded);
    QN_FUZZ_CHECK(qn::decodeModifiedUtf8(qn::encodeUtf8(decoded)) == clean);

    const std::u16string wide = qn::platform::toUtf16(bytes);
    QN_FUZZ_CHECK(wide.size() <= bytes.size());

    const std::string lines = qn::withCrLfLineBreaks(bytes);
    QN_FUZZ_CHECK(qn::withCrLfLineBreaks(lines) == lines);

    if (const auto colour = qn::platform::parseColourText(bytes)) {
        const std::string text = std::to_string(colour->red) + "," + std::to_string(colour->green) + "," +
                                 std::to_string(colour->blue);
        QN_FUZZ_CHECK(qn::platform::parseColourText(text) == colour);
    }
    return 0;
}
