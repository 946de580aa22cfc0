// The configuration reference (docs/configuration.md) against the keys the launcher reads: a key
// added to the code without its page, or a page entry for a key the code does not read, fails here.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "launcher/setting_keys.h"

namespace {

using KeySet = std::set<std::pair<std::string, std::string>>;

struct PageKeys {
    KeySet keys;
    std::vector<std::string> problems;  // key headings outside a section, keys named twice
};

/// Sections are "## `[Name]` ..." headings, keys the "### `Name`" headings below them; any other
/// "## " heading ends the section.
PageKeys keysOfPage(const std::string& page) {
    static const std::regex sectionHeading(R"(^## `\[([^\]`]+)\]`.*$)");
    static const std::regex keyHeading(R"(^### `([^`]+)`.*$)");
    PageKeys result;
    std::istringstream lines(page);
    std::string line, section;
    bool inFence = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("```", 0) == 0) inFence = !inFence;
        if (inFence) continue;
        std::smatch match;
        if (std::regex_match(line, match, sectionHeading)) {
            section = match[1];
        } else if (line.rfind("## ", 0) == 0 || line.rfind("# ", 0) == 0) {
            section.clear();
        } else if (std::regex_match(line, match, keyHeading)) {
            if (section.empty()) {
                result.problems.push_back("key outside a section: " + std::string(match[1]));
            } else if (!result.keys.emplace(section, match[1]).second) {
                result.problems.push_back("named twice: [" + section + "] " + std::string(match[1]));
            }
        }
    }
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string describe(const KeySet& keys) {
    std::string text;
    for (const auto& [section, key] : keys) text += "  [" + section + "] " + key + "\n";
    return text;
}

TEST(ConfigurationPage, ReaderFindsKeysOnlyUnderSectionHeadings) {
    const PageKeys found = keysOfPage(
        "# Configuration\n"
        "### `Stray`\n"
        "## `[Alpha]` section\n"
        "### `One` (any case)\n"
        "```ini\n### `Fenced`\n```\n"
        "### `Two`\r\n"
        "## The \"+\" sections\n"
        "### `After`\n"
        "## `[Beta]`\n"
        "### `One`\n"
        "### `One`\n");
    EXPECT_EQ(found.keys, (KeySet{{"Alpha", "One"}, {"Alpha", "Two"}, {"Beta", "One"}}));
    EXPECT_EQ(found.problems, (std::vector<std::string>{"key outside a section: Stray",
                                                         "key outside a section: After",
                                                         "named twice: [Beta] One"}));
}

TEST(ConfigurationPage, DescribesExactlyTheKeysTheLauncherReads) {
    const std::string page = readFile(QN_SOURCE_DIR "/docs/configuration.md");
    ASSERT_FALSE(page.empty()) << "docs/configuration.md is missing";
    const PageKeys documented = keysOfPage(page);
    EXPECT_TRUE(documented.problems.empty()) << documented.problems.front();

    KeySet read;
    for (const auto& [section, key] : qn::keys::allSettingKeys) read.emplace(section, key);

    KeySet undocumented, unknown;
    for (const auto& entry : read) {
        if (!documented.keys.count(entry)) undocumented.insert(entry);
    }
    for (const auto& entry : documented.keys) {
        if (!read.count(entry)) unknown.insert(entry);
    }
    EXPECT_TRUE(undocumented.empty()) << "read by the launcher, missing from the page:\n"
                                      << describe(undocumented);
    EXPECT_TRUE(unknown.empty()) << "on the page, not read by the launcher:\n" << describe(unknown);
}

TEST(ConfigurationPage, EveryNameDefinedForTheFileIsInTheLists) {
    // A key constant added without its entry in allSettingKeys would escape the page check.
    const std::string header = readFile(QN_SOURCE_DIR "/src/launcher/setting_keys.h");
    ASSERT_FALSE(header.empty());
    std::set<std::string> listed;
    for (const auto& [section, key] : qn::keys::allSettingKeys) listed.insert(key);
    for (const char* section : qn::keys::allSections) listed.insert(section);

    static const std::regex definition(R"re(inline constexpr const char\* \w+ = "([^"]*)";)re");
    int definitions = 0;
    for (std::sregex_iterator it(header.begin(), header.end(), definition), end; it != end; ++it) {
        ++definitions;
        EXPECT_TRUE(listed.count((*it)[1])) << (*it)[1] << " is defined but not listed";
    }
    EXPECT_GE(definitions, static_cast<int>(std::size(qn::keys::allSettingKeys)));
}

}  // namespace
