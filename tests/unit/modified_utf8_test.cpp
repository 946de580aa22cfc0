#include <gtest/gtest.h>

#include "text/modified_utf8.h"

namespace qn {
namespace {

TEST(ModifiedUtf8, DecodesWhatTheRuntimeHandsOut) {
    const struct {
        const char* name;
        std::string in;
        std::u16string out;
    } cases[] = {
        {"ascii", "at app.Main", u"at app.Main"},
        {"two bytes", "caf\xC3\xA9", u"caf\u00E9"},
        {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
        {"encoded NUL", "a\xC0\x80z", std::u16string(u"a") + char16_t(0) + u"z"},
        {"surrogate pair, each encoded", "\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},
        {"standard four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"cut sequence", "a\xE2\x82", u"a\uFFFD"},
        {"cut sequence before ascii", "\xE2" "z", u"\uFFFDz"},
        {"stray continuation", "\x80" "a", u"\uFFFDa"},
        {"overlong", "\xC1\x81", u"\uFFFD"},
        {"bad lead", "\xFF", u"\uFFFD"},
        {"empty", "", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.out, decodeModifiedUtf8(c.in));
    }
}

TEST(ModifiedUtf8, EncodesStandardUtf8) {
    const struct {
        const char* name;
        std::u16string in;
        std::string out;
    } cases[] = {
        {"ascii", u"boom", "boom"},
        {"latin", u"\u00E9", "\xC3\xA9"},
        {"pair joins", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::u16string(1, char16_t(0xD83D)) + u"a", "\xEF\xBF\xBD" "a"},
        {"lone low surrogate", std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.out, encodeUtf8(c.in));
    }
}

TEST(CrLfLineBreaks, EveryBreakBecomesCrLf) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a\r\n\tat b\r\n", "a\r\n\tat b\r\n"},  // the runtime's own breaks on Windows stay
        {"a\n\tat b\n", "a\r\n\tat b\r\n"},
        {"message\nsecond line\r\n\tat b", "message\r\nsecond line\r\n\tat b"},
        {"a\rb", "a\r\nb"},
        {"\n\n", "\r\n\r\n"},
        {"\r\r\n", "\r\n\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(c.out, withCrLfLineBreaks(c.in));
    }
}

}  // namespace
}  // namespace qn
