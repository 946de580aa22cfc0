#include <gtest/gtest.h>

#include "runtime/java_version.h"

namespace qn {
namespace {

JavaVersion v(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t count) {
    return JavaVersion{{a, b, c, d}, count};
}

void expectVersion(const JavaVersion& expected, const JavaVersion& actual) {
    EXPECT_EQ(expected.components, actual.components);
    EXPECT_EQ(expected.count, actual.count);
}

TEST(JavaVersionParse, FailuresGiveZeroWithoutFill) {
    const struct {
        const char* text;
    } cases[] = {{""}, {"any"}, {"Any"}, {"jre"}, {"1.6.0_2147483648"}, {"99999999999"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        JavaVersion version = v(9, 9, 9, 9, 4);
        EXPECT_FALSE(JavaVersion::parse(c.text, 65535, version));
        expectVersion(v(0, 0, 0, 0, 0), version);
    }
}

TEST(JavaVersionParse, GroupsAndFill) {
    const struct {
        const char* text;
        std::int32_t fill;
        JavaVersion expected;
    } cases[] = {
        {"1.6.0_10", 0, v(1, 6, 0, 10, 4)},
        {"1.6", 0, v(1, 6, 0, 0, 2)},
        {"1.6", 65535, v(1, 6, 65535, 65535, 2)},
        {"1.6.0_10-b12", 0, v(1, 6, 0, 10, 4)},
        {"jre1.5.0", 0, v(1, 5, 0, 0, 3)},
        {"1.6.0_10-rc", 0, v(1, 6, 0, 10, 4)},
        {"2", 65535, v(2, 65535, 65535, 65535, 1)},
        {"17.0.15+6", 0, v(17, 0, 15, 6, 4)},
        {"2147483647", 0, v(2147483647, 0, 0, 0, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        JavaVersion version;
        EXPECT_TRUE(JavaVersion::parse(c.text, c.fill, version));
        expectVersion(c.expected, version);
    }
}

TEST(JavaVersionCompare, IgnoresCountAndOrdersSigned) {
    EXPECT_EQ(0, JavaVersion::compare(JavaVersion::parsed("1.6", 0), JavaVersion::parsed("1.6.0", 0)));
    EXPECT_EQ(-1, JavaVersion::compare(JavaVersion::parsed("1.6", 0), JavaVersion::parsed("1.6.0_1", 0)));
    EXPECT_EQ(1, JavaVersion::compare(JavaVersion::parsed("1.10", 0), JavaVersion::parsed("1.9", 0)));
    EXPECT_EQ(-1, JavaVersion::compare(v(-1, 0, 0, 0, 4), v(0, 0, 0, 0, 4)));
}

TEST(JavaVersionRange, BoundsFromSettings) {
    const JavaVersion min15 = JavaVersion::parsed("1.5", 0);
    const JavaVersion any = JavaVersion::highBound();
    EXPECT_FALSE(JavaVersion::inRange(JavaVersion::parsed("1.4.2_19", 0), min15, any));
    EXPECT_TRUE(JavaVersion::inRange(JavaVersion::parsed("1.5", 0), min15, any));
    EXPECT_TRUE(JavaVersion::inRange(JavaVersion::parsed("1.6.0_10", 0), min15, any));
    const JavaVersion max16 = JavaVersion::parsed("1.6", 65535);
    EXPECT_TRUE(JavaVersion::inRange(v(1, 6, 0, 10, 4), JavaVersion::lowBound(), max16));
    EXPECT_FALSE(JavaVersion::inRange(v(1, 7, 0, 0, 4), JavaVersion::lowBound(), max16));
}

TEST(JavaVersionMatch, PreferredPatterns) {
    const struct {
        const char* candidate;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"1.6", "1.6", true},         {"1.6.0", "1.6", true},   {"1.6.0_10", "1.6", true},
        {"1.60", "1.6", false},       {"1.7", "1.6", false},    {"1.6.0_10", "1.6.0_10", true},
        {"1.6.0_11", "1.6.0_10", false}, {"1.6", "1.6.0", true},  // equal components, counts aside
        {"1.6.0_10", "", false},      {"1.6.0_10", "any", false}, {"0.0", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.candidate) + " ~ " + c.pattern);
        EXPECT_EQ(c.matches, JavaVersion::matches(JavaVersion::parsed(c.candidate, 0),
                                                  JavaVersion::parsed(c.pattern, 0)));
    }
}

// A requirement in one numbering scheme applies to runtimes registered in the other.
TEST(JavaVersionSchemes, RangeAcrossTheTwoSchemes) {
    const struct {
        const char* minimum;  // "" for no lower bound
        const char* maximum;  // "" for no upper bound
        const char* candidate;
        bool inRange;
    } cases[] = {
        {"8", "", "1.8.0_392", true},
        {"8", "", "1.7.0_80", false},
        {"9", "", "1.8.0_392", false},
        {"1.8", "", "11.0.2", true},
        {"1.8", "", "1.8.0_392", true},
        {"", "1.8", "11", false},
        {"", "1.8", "1.8.0_392", true},
        {"", "8", "1.8.0_392", true},
        {"", "8", "9", false},
        {"", "1.8.0_300", "1.8.0_392", false},
        {"", "8.0.400", "1.8.0_392", true},
        {"11", "17", "17.0.9", true},
        {"11", "17", "21", false},
        {"1.5", "1.6", "1.6.0_10", true},  // both old: as written
        {"1.5", "1.6", "1.7", false},
        {"", "2", "1.6", false},           // 2 reads as the old 1.2
        {"1", "", "17", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.minimum) + ".." + c.maximum + " " + c.candidate);
        const JavaVersion minimum = *c.minimum ? JavaVersion::parsed(c.minimum, 0) : JavaVersion::lowBound();
        const JavaVersion maximum =
            *c.maximum ? JavaVersion::parsed(c.maximum, 65535) : JavaVersion::highBound();
        EXPECT_EQ(c.inRange, JavaVersion::inRange(JavaVersion::parsed(c.candidate, 0), minimum, maximum));
    }
}

TEST(JavaVersionSchemes, OrderAndPatternsAcrossTheSchemes) {
    EXPECT_EQ(-1, JavaVersion::compare(JavaVersion::parsed("1.8.0_392", 0), JavaVersion::parsed("9", 0)));
    EXPECT_EQ(1, JavaVersion::compare(JavaVersion::parsed("11.0.2", 0), JavaVersion::parsed("1.8.0_392", 0)));
    EXPECT_EQ(0, JavaVersion::compare(JavaVersion::parsed("8.0.392", 0), JavaVersion::parsed("1.8.0_392", 0)));
    EXPECT_EQ(1, JavaVersion::compare(JavaVersion::parsed("1.8.0_392", 0), JavaVersion::parsed("1.8.0_41", 0)));
    const struct {
        const char* candidate;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"1.8.0_392", "8", true},   {"1.8.0_392", "8.0", true},  {"1.8.0_392", "8.0.392", true},
        {"1.8.0_392", "8.0.391", false}, {"1.8.0_392", "9", false}, {"17.0.9", "1.8", false},
        {"1.8.0_392", "1.8", true}, {"1.8.0_392", "1", true},    {"17.0.9", "1", false},
        {"8", "1.8", true},         {"17.0.9", "17", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.candidate) + " ~ " + c.pattern);
        EXPECT_EQ(c.matches, JavaVersion::matches(JavaVersion::parsed(c.candidate, 0),
                                                  JavaVersion::parsed(c.pattern, 0)));
    }
}

TEST(JavaVersionText, DropsTrailingUnsetComponents) {
    const struct {
        JavaVersion version;
        const char* text;
    } cases[] = {
        {v(1, 6, 0, 0, 2), "1.6"},         {v(1, 6, 65535, 65535, 2), "1.6"},
        {v(1, 6, 0, 10, 4), "1.6.0.10"},   {v(1, 0, 0, 10, 4), "1.0.0.10"},
        {v(1, 0, 0, 0, 4), "1.0"},         {v(2, 65535, 65535, 65535, 1), "2.65535"},
        {v(0, 0, 0, 0, 0), "0.0.0.0"},     {v(65535, 65535, 65535, 65535, 4), "0.0.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text, JavaVersion::toText(c.version));
    }
}

TEST(JavaVersionUnset, IgnoresCount) {
    EXPECT_TRUE(JavaVersion::isUnset(v(0, 0, 0, 0, 0)));
    EXPECT_TRUE(JavaVersion::isUnset(JavaVersion::highBound()));
    EXPECT_FALSE(JavaVersion::isUnset(v(0, 0, 0, 1, 4)));
    EXPECT_FALSE(JavaVersion::isUnset(v(65535, 65535, 65535, 0, 4)));
}

TEST(VersionPhrase, AllFiveForms) {
    const struct {
        JavaVersion minimum, maximum;
        const char* phrase;
    } cases[] = {
        {JavaVersion::lowBound(), JavaVersion::highBound(), "latest version"},
        {JavaVersion::parsed("Any", 0), JavaVersion::highBound(), "latest version"},
        {JavaVersion::lowBound(), JavaVersion::parsed("1.6", 65535), "maximum version 1.6"},
        {JavaVersion::lowBound(), JavaVersion::parsed("2", 65535), "maximum version 2.65535"},
        {JavaVersion::parsed("1.5", 0), JavaVersion::highBound(), "minimum version 1.5"},
        {JavaVersion::parsed("1.6.0_10", 0), JavaVersion::parsed("1.6.0_10", 65535),
         "version 1.6.0.10 is required"},
        {JavaVersion::parsed("1.6", 0), JavaVersion::parsed("1.6", 65535),
         "version between 1.6 and 1.6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phrase);
        EXPECT_EQ(c.phrase, describeVersionRequirement(c.minimum, c.maximum));
    }
}

}  // namespace
}  // namespace qn
