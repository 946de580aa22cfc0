#pragma once
// Java version numbers: up to four numeric groups, parsed from registry names and settings.

#include <array>
#include <cstdint>
#include <string>

namespace qn {

struct JavaVersion {
    std::array<std::int32_t, 4> components{0, 0, 0, 0};
    std::int32_t count = 0;  // groups the text supplied; later components hold the fill value

    /// Any non-digit separates groups; fails (0.0.0.0, count 0, no fill) on an empty or digit-less
    /// text or a group above 2147483647.
    static bool parse(const std::string& text, std::int32_t fill, JavaVersion& version);
    static JavaVersion parsed(const std::string& text, std::int32_t fill);
    /// Versions of the two numbering schemes (1.8.0_392, 17.0.9) compare with 1.x read as x;
    /// two of one scheme compare group by group as written. The count plays no part.
    static int compare(const JavaVersion& a, const JavaVersion& b);
    static bool inRange(const JavaVersion& version, const JavaVersion& minimum,
                        const JavaVersion& maximum);
    /// The preferred-version pattern rule, across the two schemes as compare.
    static bool matches(const JavaVersion& candidate, const JavaVersion& pattern);
    /// All four components 0, or all four 65535.
    static bool isUnset(const JavaVersion& version);
    static std::string toText(const JavaVersion& version);

    static JavaVersion lowBound();   // 0.0.0.0, count 4
    static JavaVersion highBound();  // 65535.65535.65535.65535, count 4
};

/// The version phrase of the missing-runtime message.
std::string describeVersionRequirement(const JavaVersion& minimum, const JavaVersion& maximum);

}  // namespace qn
