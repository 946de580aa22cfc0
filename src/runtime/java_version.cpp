#include "runtime/java_version.h"

#include <cstdio>
#include <utility>

#include "platform/platform.h"
#include "res/resource_ids.h"
#include "vm/launcher_error.h"

namespace qn {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t nextDigit(const std::string& text, std::size_t pos) {
    while (pos < text.size() && !isDigit(text[pos])) pos = platform::nextCharacter(text, pos);
    return pos;
}

/// Java 8 and earlier are numbered 1.x, later ones x: the old form is read as x with its
/// remaining groups moved up, so 1.8.0_392 compares as 8.0.392.
bool isOldScheme(const JavaVersion& version) {
    return version.count > 0 && version.components[0] == 1;
}

JavaVersion inNewScheme(const JavaVersion& version) {
    if (!isOldScheme(version)) return version;
    JavaVersion moved;
    moved.components = {version.components[1], version.components[2], version.components[3],
                        // A fill carries on into the freed group; four given groups leave it 0.
                        version.count < 4 ? version.components[3] : 0};
    moved.count = version.count - 1;
    return moved;
}

/// Both in one scheme: as written, so the order among old numbers never changes.
std::pair<JavaVersion, JavaVersion> inOneScheme(const JavaVersion& a, const JavaVersion& b) {
    if (isOldScheme(a) == isOldScheme(b)) return {a, b};
    return {inNewScheme(a), inNewScheme(b)};
}

int compareAsWritten(const JavaVersion& a, const JavaVersion& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.components[i] != b.components[i]) return a.components[i] < b.components[i] ? -1 : 1;
    }
    return 0;
}

}  // namespace

bool JavaVersion::parse(const std::string& text, std::int32_t fill, JavaVersion& version) {
    version = JavaVersion{};
    std::size_t pos = nextDigit(text, 0);
    if (pos >= text.size()) return false;
    std::int32_t count = 0;
    while (count < 4) {
        std::int64_t value = 0;
        for (; pos < text.size() && isDigit(text[pos]); ++pos) {
            value = value * 10 + (text[pos] - '0');
            if (value > 2147483647) {
                version = JavaVersion{};
                return false;
            }
        }
        version.components[count++] = static_cast<std::int32_t>(value);
        pos = nextDigit(text, pos);
        if (pos >= text.size()) break;
    }
    version.count = count;
    for (std::int32_t i = count; i < 4; ++i) version.components[i] = fill;
    return true;
}

JavaVersion JavaVersion::parsed(const std::string& text, std::int32_t fill) {
    JavaVersion version;
    parse(text, fill, version);
    return version;
}

int JavaVersion::compare(const JavaVersion& a, const JavaVersion& b) {
    const auto [first, second] = inOneScheme(a, b);
    return compareAsWritten(first, second);
}

bool JavaVersion::inRange(const JavaVersion& version, const JavaVersion& minimum,
                          const JavaVersion& maximum) {
    return compare(version, maximum) <= 0 && compare(version, minimum) >= 0;
}

bool JavaVersion::matches(const JavaVersion& candidateAsWritten, const JavaVersion& patternAsWritten) {
    const auto [candidate, pattern] = inOneScheme(candidateAsWritten, patternAsWritten);
    if (candidate.components == pattern.components) return true;
    if (pattern.count == 0 || pattern.count > candidate.count) return false;
    for (std::int32_t i = 0; i < pattern.count; ++i) {
        if (pattern.components[i] != candidate.components[i]) return false;
    }
    return true;
}

bool JavaVersion::isUnset(const JavaVersion& version) {
    return version.components == lowBound().components ||
           version.components == highBound().components;
}

std::string JavaVersion::toText(const JavaVersion& version) {
    int kept = 4;
    while (kept > 0 && (version.components[kept - 1] == 0 || version.components[kept - 1] == 65535)) {
        --kept;
    }
    if (kept == 0) return "0.0.0.0";
    if (kept == 1) kept = 2;
    std::string text;
    for (int i = 0; i < kept; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(version.components[i]);
    }
    return text;
}

JavaVersion JavaVersion::lowBound() { return JavaVersion{{0, 0, 0, 0}, 4}; }

JavaVersion JavaVersion::highBound() { return JavaVersion{{65535, 65535, 65535, 65535}, 4}; }

std::string describeVersionRequirement(const JavaVersion& minimum, const JavaVersion& maximum) {
    const bool minimumUnset = JavaVersion::isUnset(minimum);
    const bool maximumUnset = JavaVersion::isUnset(maximum);
    if (minimumUnset && maximumUnset) return loadText(IDS_LATEST_VERSION);
    if (minimumUnset) return formatError(LauncherError(IDS_MAXIMUM_VERSION, JavaVersion::toText(maximum)));
    if (maximumUnset) return formatError(LauncherError(IDS_MINIMUM_VERSION, JavaVersion::toText(minimum)));
    if (minimum.components == maximum.components) {
        return formatError(LauncherError(IDS_EXACT_VERSION, JavaVersion::toText(minimum)));
    }
    return formatError(
        LauncherError(IDS_VERSION_BETWEEN, JavaVersion::toText(minimum), JavaVersion::toText(maximum)));
}

}  // namespace qn
