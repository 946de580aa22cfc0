// The real backend's file search: the class path is built from it, so its names and their order
// must be exactly those of the system's own pattern matcher, sorted by bytes.
#include <fnmatch.h>
#include <locale.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

class FileSearch : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qn-search-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        for (const char* name : kNames) std::ofstream(folder / name) << "x";
        fs::create_directory(folder / "lib.jar");  // a folder whose name matches is found too
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> find(const std::string& namePattern) const {
        return platform::findFiles((folder / namePattern).string());
    }

    /// What the system's matcher finds in the folder, in byte order.
    std::vector<std::string> reference(const std::string& namePattern) const {
        std::vector<std::string> names{".", ".."};
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [&](const std::string& name) {
                                       return ::fnmatch(namePattern.c_str(), name.c_str(), 0) != 0;
                                   }),
                    names.end());
        std::sort(names.begin(), names.end());
        return names;
    }

    static constexpr const char* kNames[] = {
        "a.jar", "B.JAR", "b.jar", ".hidden.jar", "x.jar.bak", "j1.jar", "j10.jar", "j2.jar",
        "a b.jar", "[x].jar", "library-core.jar", "library-Core.jar", "library-core-extra.jar",
        "librar.jar", "\xC3\xBC.jar", "caf\xC3\xA9.jar", "z\xFF.jar", "jar", ".jar", "ab", "abc",
    };
    fs::path folder;
};

TEST_F(FileSearch, NamesAndOrderAreThoseOfTheSystemMatcher) {
    const char* const patterns[] = {
        "*.jar", "*", "?.jar", "j?.jar", "j*.jar", "*.JAR", "*jar*", "*.*", "library-*.jar",
        "*-*-*", "a*b*", "ab*", "*b", "**.jar", "[ab].jar", "[!a]*.jar", "\\[x].jar", "*\\*",
        "caf?.jar", "?.jar*", ".*", "*.jar.*", "z?.jar", "ab*b", "a*c", "j1*", "abc*abc",
    };
    // The launcher matches in the user's locale; a byte and a character differ only in UTF-8.
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_CTYPE, locale)) continue;
        for (const char* pattern : patterns) {
            SCOPED_TRACE(std::string(locale) + " " + pattern);
            EXPECT_EQ(reference(pattern), find(pattern));
        }
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

// The user's locale is asked for once and stays asked for, so this runs in a child process. It
// decides how the search matches, and leaves the process's own locale alone for the runtime.
TEST_F(FileSearch, TheUserLocaleDecidesTheMatchAndTheProcessLocaleStays) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) GTEST_SKIP() << "no C.UTF-8";
    freelocale(utf8);
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            setenv("LC_ALL", "C.UTF-8", 1);
            std::setlocale(LC_ALL, "C");
            const bool byteBefore = find("caf?.jar").empty();  // '?' is one byte in "C"
            platform::useSystemLocale();
            const bool characterAfter = find("caf?.jar") == std::vector<std::string>{"caf\xC3\xA9.jar"};
            const bool processKept = std::string(std::setlocale(LC_CTYPE, nullptr)) == "C";
            std::exit(byteBefore && characterAfter && processKept ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(FileSearch, AWildcardFindsEveryJarInByteOrder) {
    const std::vector<std::string> expected = {
        ".hidden.jar", ".jar", "[x].jar", "a b.jar", "a.jar", "b.jar", "caf\xC3\xA9.jar",
        "j1.jar", "j10.jar", "j2.jar", "lib.jar", "librar.jar", "library-Core.jar",
        "library-core-extra.jar", "library-core.jar", "z\xFF.jar", "\xC3\xBC.jar",
    };
    EXPECT_EQ(expected, find("*.jar"));
    EXPECT_EQ((std::vector<std::string>{"j1.jar", "j10.jar", "j2.jar"}), find("j*.jar"));
    EXPECT_EQ((std::vector<std::string>{"B.JAR"}), find("*.JAR"));
    EXPECT_EQ((std::vector<std::string>{"a.jar", "b.jar"}), find("?.jar"));
}

TEST_F(FileSearch, APlainNameAndAMissingFolder) {
    EXPECT_EQ((std::vector<std::string>{"a b.jar"}), find("a b.jar"));
    EXPECT_TRUE(find("missing.jar").empty());
    EXPECT_TRUE(platform::findFiles((folder / "missing" / "*.jar").string()).empty());
}

TEST_F(FileSearch, AThousandNamesComeBackSortedAndComplete) {
    const fs::path many = folder / "many";
    fs::create_directory(many);
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
        // Shared eight-byte heads and names shorter than eight bytes, in one folder.
        const std::string name = (i % 3 == 0 ? "dependency-" : i % 3 == 1 ? "d" : "Dependency-") +
                                 std::to_string(i * 7919 % 1000) + ".jar";
        std::ofstream(many / name) << "x";
        expected.push_back(name);
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(expected, platform::findFiles((many / "*.jar").string()));
}

}  // namespace
}  // namespace qn
