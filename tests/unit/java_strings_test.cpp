#include <gtest/gtest.h>

#include "fake_platform.h"
#include "vm/java_strings.h"

namespace qn {
namespace {

TEST(FromModifiedUtf8, Decoding) {
    const struct {
        const char* name;
        std::string text;
        std::u16string expected;
    } cases[] = {
        {"ascii", "com/example/App", u"com/example/App"},
        {"empty", "", u""},
        {"two bytes", "caf\xC3\xA9", u"caf\u00e9"},
        {"three bytes", "\xE6\x97\xA5", u"\u65e5"},
        {"nul as two bytes", std::string("a\xC0\x80" "b"), std::u16string(u"a\0b", 3)},
        {"surrogates one by one", "\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},
        {"plain four-byte form", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
        {"cut sequence", "a\xE6\x97", u"a\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, fromModifiedUtf8(c.text));
    }
}

// The fake code page is Latin-1; what it lacks becomes "?".
TEST(DisplayText, RuntimeTextInTheCodePage) {
    EXPECT_EQ("com/example/Caf\xE9", displayText("com/example/Caf\xC3\xA9"));
    EXPECT_EQ("x/?", displayText("x/\xE6\x97\xA5"));
    EXPECT_EQ("", displayText(""));
}

}  // namespace
}  // namespace qn
