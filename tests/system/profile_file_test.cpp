// Profile files written by the real backend: what a failed or partial write must not destroy.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "platform/posix/profile_file.h"

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

/// Latin-1 text as a UTF-16 file with its mark, as Windows editors save it.
std::string utf16(const std::string& latin1) {
    std::string bytes = "\xFF\xFE";
    for (char c : latin1) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string read(const fs::path& file, const char* key = kKey) {
    char buffer[256];
    const std::uint32_t length = platform::profileString(kSection, key, buffer, sizeof buffer, file.string());
    return std::string(buffer, length);
}

// A folder that takes no new file: the name leaves no room for the temporary file's suffix, so
// the writer must change the file in place, as it does in a folder the user may not write to.
TEST_F(ProfileFile, InPlaceWriteThatRunsOutOfSpaceLeavesTheFileWhole) {
    std::string ini = kIni;
    for (int i = 0; i < 200; ++i) ini += "[Other " + std::to_string(i) + "]\r\nKey=value\r\n";
    const fs::path file = write(std::string(250, 'a') + ".ini", ini);
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit small = saved;
    small.rlim_cur = ini.size() + 4;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const bool written = platform::writeProfileString(kSection, kKey, "/opt/java/jre/", file.string());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(ini, contentOf(file));

    // With room the same write succeeds in place, shorter and longer.
    ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/opt/java/jre/", file.string()));
    EXPECT_EQ(kIni + "JRE Path=/opt/java/jre/\r\n" + ini.substr(kIni.size()), contentOf(file));
    ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/j/", file.string()));
    EXPECT_EQ(kIni + "JRE Path=/j/\r\n" + ini.substr(kIni.size()), contentOf(file));
    EXPECT_EQ("/j/", read(file));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

TEST_F(ProfileFile, WriteKeepsEveryOtherByteAndTheFilesEncoding) {
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        // The last line ended in a CR alone; its value must not gain one.
        {"last line ends in CR", "[Java Runtime Environment]\r\nMain Class=app.Probe\r",
         "[Java Runtime Environment]\r\nMain Class=app.Probe\rJRE Path=/j/\r\n"},
        {"UTF-16 with its mark", utf16("[Java Runtime Environment]\r\nMain Class=\xE9\r\n"),
         utf16("[Java Runtime Environment]\r\nMain Class=\xE9\r\nJRE Path=/j/\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = write("app.ini", c.before);
        ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/j/", file.string()));
        EXPECT_EQ(c.after, contentOf(file));
        EXPECT_EQ("/j/", read(file));
    }
    EXPECT_EQ("\xC3\xA9", read(folder / "app.ini", "Main Class"));
}

TEST_F(ProfileFile, FilesThatCannotBeReadAreNeitherReadNorReplaced) {
    const std::string zeros(8192, '\0');
    const fs::path damaged = write("damaged.ini", kIni + zeros);
    fs::create_directory(folder / "folder.ini");
    for (const fs::path& file : {damaged, folder / "folder.ini", folder / "missing.ini"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(platform::profileFileReadable(file.string()));
        EXPECT_EQ("", read(file, "Main Class"));
    }
    EXPECT_FALSE(platform::writeProfileString(kSection, kKey, "/j/", damaged.string()));
    EXPECT_FALSE(platform::writeProfileString(kSection, kKey, "/j/", (folder / "folder.ini").string()));
    EXPECT_EQ(kIni + zeros, contentOf(damaged));
    EXPECT_TRUE(platform::profileFileReadable(write("good.ini", kIni).string()));
    EXPECT_TRUE(platform::profileFileReadable(write("empty.ini", "").string()));
}

TEST_F(ProfileFile, ParsedOnceWhileUnchanged) {
    const fs::path file = write("app.ini", kIni);
    const std::uint64_t before = platform::posix::profileFileLoads();
    for (int i = 0; i < 42; ++i) EXPECT_EQ("app.Main", read(file, "Main Class"));
    EXPECT_EQ(before + 1, platform::posix::profileFileLoads());

    // A change of size, or of content with the same size, is seen by the next read.
    std::ofstream(file, std::ios::binary | std::ios::app) << "Extra=1\r\n";
    EXPECT_EQ("1", read(file, "Extra"));
    std::ofstream(file, std::ios::binary | std::ios::in) << "[Java Runtime Environment]\r\nMain Class=app.Xain";
    struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};  // a different time as a new write gives
    ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));
    EXPECT_EQ("app.Xain", read(file, "Main Class"));
    // A write through the backend is seen at once.
    ASSERT_TRUE(platform::writeProfileString(kSection, kKey, "/j/", file.string()));
    EXPECT_EQ("/j/", read(file));
    EXPECT_EQ(before + 4, platform::posix::profileFileLoads());
}

}  // namespace
}  // namespace qn
