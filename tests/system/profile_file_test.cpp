// Profile files written by the real backend: what a failed or partial write must not destroy.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ProfileFile : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qn-profile-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path write(const std::string& name, const std::string& content) {
        std::ofstream(folder / name, std::ios::binary) << content;
        return folder / name;
    }
    fs::path folder;
};

const char* const kSection = "Java Runtime Environment";
const char* const kKey = "JRE Path";
const std::string kIni = "[Java Runtime Environment]\r\nMain Class=app.Main\r\n";

TEST_F(ProfileFile, WriteThatRunsOutOfSpaceLeavesTheFileWhole) {
    const fs::path ini = write("app.ini", kIni);
    // A file-size limit stands in for a full disk; the signal it raises is turned into EFBIG.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit small = saved;
    small.rlim_cur = kIni.size() + 4;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const bool written = platform::writeProfileString(kSection, kKey, "/opt/java/jre/", ini.string());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_EQ(kIni, contentOf(ini));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

TEST_F(ProfileFile, ChangedFileKeepsItsContentModeAndLink) {
    const fs::path ini = write("real.ini", kIni);
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(ini, folder / "app.ini");

    ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/opt/jre/", (folder / "app.ini").string()));
    EXPECT_TRUE(fs::is_symlink(folder / "app.ini"));
    EXPECT_EQ(kIni + "JRE Path=/opt/jre/\r\n", contentOf(ini));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
              fs::status(ini).permissions());

    // A missing file is created with the one key.
    ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/j/", (folder / "new.ini").string()));
    EXPECT_EQ("[Java Runtime Environment]\r\nJRE Path=/j/\r\n", contentOf(folder / "new.ini"));
}

std::string read(const fs::path& file, const char* section, const char* key) {
    char buffer[256];
    const std::uint32_t length =
        platform::profileString(section, key, buffer, sizeof buffer, file.string());
    return std::string(buffer, length);
}

TEST_F(ProfileFile, EveryReadSeesTheFileAsItIsNow) {
    const fs::path ini = write("app.ini", kIni);
    const fs::path other = write("other.ini", "[Java Runtime Environment]\nMain Class=other.Main\n");
    EXPECT_EQ("app.Main", read(ini, kSection, "Main Class"));
    EXPECT_EQ("other.Main", read(other, kSection, "Main Class"));
    EXPECT_EQ("app.Main", read(ini, kSection, "main class"));

    // Changed by someone else, in place: the same file, other content.
    std::ofstream(ini, std::ios::binary | std::ios::trunc)
        << "[Java Runtime Environment]\r\nMain Class=bb.Main\r\n";
    EXPECT_EQ("bb.Main", read(ini, kSection, "Main Class"));

    // Changed here, to a value of the same length, at once.
    ASSERT_TRUE(platform::writeProfileString(kSection, "Main Class", "c.Main", ini.string()));
    EXPECT_EQ("c.Main", read(ini, kSection, "Main Class"));
    // Changed through a link to it.
    fs::create_symlink(ini, folder / "link.ini");
    ASSERT_TRUE(platform::writeProfileString(kSection, "Main Class", "d.Main",
                                             (folder / "link.ini").string()));
    EXPECT_EQ("d.Main", read(ini, kSection, "Main Class"));

    // Gone, or a folder: nothing.
    fs::remove(ini);
    EXPECT_EQ("", read(ini, kSection, "Main Class"));
    fs::create_directory(ini);
    EXPECT_EQ("", read(ini, kSection, "Main Class"));
}

}  // namespace
}  // namespace qn
