// The profile format as the POSIX backend reads and writes it: line ends, encodings, and writes
// that touch nothing but their key.
#include <gtest/gtest.h>

#include "text/profile_format.h"

namespace qn {
namespace {

const char* const kSection = "Java Runtime Environment";

TEST(ProfileLines, EveryLineEndEndsALine) {
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"CR LF", "[Java Runtime Environment]\r\nMain Class=app.Probe\r\nX=1\r\n"},
        {"LF", "[Java Runtime Environment]\nMain Class=app.Probe\nX=1\n"},
        {"CR alone", "[Java Runtime Environment]\rMain Class=app.Probe\rX=1\r"},
        {"mixed, last line unended", "[Java Runtime Environment]\r\rMain Class=app.Probe\n\r\nX=1"},
        {"LF CR is two line ends", "[Java Runtime Environment]\n\rMain Class=app.Probe\n\rX=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const profile::Document document(c.content);
        for (const auto& read : {profile::lookup(c.content, kSection, "Main Class"),
                                 document.lookup(kSection, "Main Class")}) {
            EXPECT_EQ("app.Probe", read.value_or("<absent>"));
        }
        EXPECT_EQ("1", document.lookup(kSection, "x").value_or("<absent>"));
    }
}

TEST(ProfileUpdate, ChangesOnlyItsKey) {
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        // The last line ends in a CR alone: the new key goes after it and the value keeps no CR.
        {"last line ends in CR", "[Java Runtime Environment]\r\nMain Class=app.Probe\r",
         "[Java Runtime Environment]\r\nMain Class=app.Probe\rJRE Path=/j/\r\n"},
        {"CR-only file", "[A]\rK=1\r[Java Runtime Environment]\rMain Class=a.B\r[Z]\rQ=2\r",
         "[A]\rK=1\r[Java Runtime Environment]\rMain Class=a.B\rJRE Path=/j/\r\n[Z]\rQ=2\r"},
        {"existing key, other line ends kept", "[java runtime environment]\nJRE PATH = old \r\nA=1",
         "[java runtime environment]\nJRE Path=/j/\r\nA=1"},
        {"no line end at all", "[Java Runtime Environment]",
         "[Java Runtime Environment]\r\nJRE Path=/j/\r\n"},
        {"new section after an unended line", "[Other]\rK=v",
         "[Other]\rK=v\r\n[Java Runtime Environment]\r\nJRE Path=/j/\r\n"},
        {"empty file", "", "[Java Runtime Environment]\r\nJRE Path=/j/\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string after = profile::update(c.before, kSection, "JRE Path", "/j/");
        EXPECT_EQ(c.after, after);
        EXPECT_EQ("/j/", profile::Document(after).lookup(kSection, "JRE Path").value_or("<absent>"));
        EXPECT_EQ(profile::lookup(c.before, kSection, "Main Class"),
                  profile::lookup(after, kSection, "Main Class"));
    }
}

TEST(ProfileDecode, Utf16FilesReadAsTheirText) {
    const std::string little("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xE9\0\x3D\xD8\x00\xDE\r\0\n\0", 26);
    const std::string big("\xFE\xFF\0[\0S\0]\0\r\0\n\0K\0=\0\xE9\xD8\x3D\xDE\x00\0\r\0\n", 26);
    for (const std::string& bytes : {little, big}) {
        const auto decoded = profile::decode(bytes);
        ASSERT_TRUE(decoded);
        EXPECT_EQ("[S]\r\nK=\xC3\xA9\xF0\x9F\x98\x80\r\n", decoded->text);
        EXPECT_EQ("\xC3\xA9\xF0\x9F\x98\x80", profile::Document(decoded->text).lookup("s", "k").value_or(""));
        // Written back in the file's own encoding, byte for byte.
        EXPECT_EQ(bytes, profile::encode(decoded->text, decoded->encoding).value_or(""));
    }
    const auto plain = profile::decode("\xEF\xBB\xBF[S]\nK=\xE9\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(profile::Encoding::Bytes, plain->encoding);
    EXPECT_EQ("\xEF\xBB\xBF[S]\nK=\xE9\n", plain->text);
}

TEST(ProfileDecode, DamagedFilesAreRefused) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"NUL in 8-bit text", std::string("[S]\nK=v\n\0\0\0\0", 12)},
        {"zeros only", std::string(4096, '\0')},
        {"UTF-16 of odd length", std::string("\xFF\xFE[\0S", 5)},
        {"lone low surrogate", std::string("\xFF\xFE\x00\xDC", 4)},
        {"high surrogate at the end", std::string("\xFF\xFEK\0\x3D\xD8", 6)},
        {"high surrogate without its low one", std::string("\xFF\xFE\x3D\xD8K\0", 6)},
        {"UTF-16 NUL", std::string("\xFF\xFEK\0\0\0", 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(profile::decode(c.bytes));
    }
    // Text that is not UTF-8 has no UTF-16 form; writing it would damage the file.
    EXPECT_FALSE(profile::encode("K=\xE9", profile::Encoding::Utf16LittleEndian));
    EXPECT_FALSE(profile::encode("\xED\xA0\x80", profile::Encoding::Utf16LittleEndian));  // a surrogate
    EXPECT_FALSE(profile::encode("\xC0\xAF", profile::Encoding::Utf16BigEndian));         // overlong
    EXPECT_EQ("K=\xE9", profile::encode("K=\xE9", profile::Encoding::Bytes).value_or(""));
}

TEST(ProfileDocument, AgreesWithTheLineByLineLookup) {
    const std::string content =
        "K=before any section\r\n[S]\r\n;K=comment\r\n k = \"v1\" \r\nk=second\r\n[T]\r\nK=t\r\n"
        "[s]\r\nK=later section\r\nL=only later\r\n[ S ]\r\n[]\r\nK=nameless\r\n[U\r\nK=u\r\n";
    const profile::Document document(content);
    for (const char* section : {"S", "s", "T", "U", "", "Missing"}) {
        for (const char* key : {"K", "k", "L", "Missing", ";K"}) {
            SCOPED_TRACE(std::string(section) + "/" + key);
            EXPECT_EQ(profile::lookup(content, section, key), document.lookup(section, key));
        }
    }
    EXPECT_EQ("v1", document.lookup("S", "K").value_or(""));
    EXPECT_FALSE(document.lookup("S", "L"));  // only the first section of a name counts
}

}  // namespace
}  // namespace qn
