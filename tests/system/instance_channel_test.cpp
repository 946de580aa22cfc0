// The single-instance channel of the real backend: which blocks and lock files of the user's folder
// it uses, which it refuses, and which processes count as a running first instance.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/instance_channel.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlockSize = 1052;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& content, mode_t mode) {
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
}

class InstanceChannel : public testing::Test {
protected:
    // The backend chooses its folder once per process: every test here shares one home.
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/qn-channel-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        runtime = pattern;
        ::setenv("HOME", pattern, 1);
    }
    static void TearDownTestSuite() { fs::remove_all(runtime); }

    static fs::path folder() {
        char host[256] = "";
        ::gethostname(host, sizeof host - 1);
        return runtime / ".cache" / (std::string("qnlauncher-") + host);
    }

    // Where the block of `name` lives, learnt from the backend itself.
    static fs::path blockPath(const std::string& name) {
        bool existed = true;
        platform::SharedMappingPtr mapping = platform::createSharedMapping(name, kBlockSize, existed);
        EXPECT_TRUE(mapping && !existed);
        fs::path found;
        for (const auto& entry : fs::directory_iterator(folder())) {
            if (entry.path().extension() == ".block") found = entry.path();
        }
        return found;  // the mapping removes the file as it goes
    }

    static fs::path runtime;
};

fs::path InstanceChannel::runtime;

TEST_F(InstanceChannel, TheFolderIsTheUsersAlone) {
    ASSERT_NE(nullptr, platform::acquireInstanceTurn("folder", 0));
    struct stat info;
    ASSERT_EQ(0, ::lstat(folder().c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(::geteuid(), info.st_uid);
    EXPECT_EQ(0700u, info.st_mode & 07777);
}

TEST_F(InstanceChannel, ABlockThatIsNotTheUsersAloneIsReplacedNeverUsed) {
    const fs::path path = blockPath("refused");
    ASSERT_FALSE(path.empty());
    const fs::path elsewhere = runtime / "elsewhere";
    const std::string planted(kBlockSize, 'p');
    struct Case {
        const char* what;
        void (*plant)(const fs::path& path, const fs::path& elsewhere, const std::string& planted);
    };
    const Case cases[] = {
        {"readable by others", [](const fs::path& p, const fs::path&, const std::string& c) { writeFile(p, c, 0644); }},
        {"writable by all", [](const fs::path& p, const fs::path&, const std::string& c) { writeFile(p, c, 0666); }},
        {"a second name of another file",
         [](const fs::path& p, const fs::path& e, const std::string& c) {
             writeFile(e, c, 0600);
             fs::create_hard_link(e, p);
         }},
        {"a symbolic link",
         [](const fs::path& p, const fs::path& e, const std::string& c) {
             writeFile(e, c, 0600);
             fs::create_symlink(e, p);
         }},
        {"another user's", [](const fs::path& p, const fs::path&, const std::string& c) {
             writeFile(p, c, 0600);
             EXPECT_EQ(0, ::chown(p.c_str(), 65534, 65534));
         }},
    };
    for (const Case& c : cases) {
        if (std::string(c.what) == "another user's" && ::geteuid() != 0) continue;  // needs chown
        SCOPED_TRACE(c.what);
        fs::remove(path);
        fs::remove(elsewhere);
        c.plant(path, elsewhere, planted);
        bool existed = true;
        const platform::SharedMappingPtr mapping = platform::createSharedMapping("refused", kBlockSize, existed);
        ASSERT_NE(nullptr, mapping);
        EXPECT_FALSE(existed) << "a fresh block makes this start the first instance";
        const auto* view = static_cast<const char*>(platform::mapSharedView(*mapping));
        ASSERT_NE(nullptr, view);
        EXPECT_EQ(std::string(kBlockSize, '\0'), std::string(view, kBlockSize));
        struct stat info;
        ASSERT_EQ(0, ::lstat(path.c_str(), &info));
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(0600u, info.st_mode & 07777);
        EXPECT_EQ(1u, info.st_nlink);
        if (fs::exists(elsewhere)) {
            EXPECT_EQ(planted, contentOf(elsewhere)) << "what the planted name led to is untouched";
        }
    }
    fs::remove(elsewhere);
}

TEST_F(InstanceChannel, TheUsersOwnBlockIsOpenedAndGoesWithItsCreator) {
    bool existed = true;
    platform::SharedMappingPtr created = platform::createSharedMapping("own", kBlockSize, existed);
    ASSERT_NE(nullptr, created);
    EXPECT_FALSE(existed);
    auto* mine = static_cast<char*>(platform::mapSharedView(*created));
    ASSERT_NE(nullptr, mine);
    mine[12] = 'x';
    platform::SharedMappingPtr opened = platform::createSharedMapping("own", kBlockSize, existed);
    ASSERT_NE(nullptr, opened);
    EXPECT_TRUE(existed);
    EXPECT_EQ('x', static_cast<const char*>(platform::mapSharedView(*opened))[12]);
    opened.reset();
    created.reset();
    for (const auto& entry : fs::directory_iterator(folder())) {
        EXPECT_NE(".block", entry.path().extension()) << entry.path();
    }
}

TEST_F(InstanceChannel, TheTurnIsHeldByOneAtATimeAndAForeignLockFileIsReplaced) {
    platform::InstanceTurnPtr held = platform::acquireInstanceTurn("turn", 0);
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(nullptr, platform::acquireInstanceTurn("turn", 50));
    held.reset();
    EXPECT_NE(nullptr, platform::acquireInstanceTurn("turn", 0));

    fs::path lock;
    for (const auto& entry : fs::directory_iterator(folder())) {
        if (entry.path().extension() == ".lock") lock = entry.path();
    }
    ASSERT_FALSE(lock.empty());
    ::chmod(lock.c_str(), 0666);
    ASSERT_NE(nullptr, platform::acquireInstanceTurn("folder", 0));
    ASSERT_NE(nullptr, platform::acquireInstanceTurn("turn", 0));
    struct stat info;
    ASSERT_EQ(0, ::stat(lock.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
}

TEST_F(InstanceChannel, OnlyAProcessOfThisExecutableAndUserIsARunningFirstInstance) {
    const pid_t sameProgram = ::fork();
    ASSERT_GE(sameProgram, 0);
    if (sameProgram == 0) {
        ::pause();
        ::_exit(0);
    }
    const pid_t otherProgram = ::fork();
    ASSERT_GE(otherProgram, 0);
    if (otherProgram == 0) {
        ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The exec has happened once the child's executable reads back as another program.
    for (int i = 0; i < 500 && platform::isInstanceProcessRunning(static_cast<std::uint32_t>(otherProgram)); ++i) {
        ::usleep(10000);
    }
    EXPECT_TRUE(platform::isInstanceProcessRunning(static_cast<std::uint32_t>(sameProgram)));
    EXPECT_FALSE(platform::isInstanceProcessRunning(static_cast<std::uint32_t>(otherProgram)));
    ::kill(sameProgram, SIGKILL);
    ::kill(otherProgram, SIGKILL);
    ::waitpid(sameProgram, nullptr, 0);
    ::waitpid(otherProgram, nullptr, 0);
    EXPECT_FALSE(platform::isInstanceProcessRunning(static_cast<std::uint32_t>(sameProgram))) << "ended";
    EXPECT_FALSE(platform::isInstanceProcessRunning(0));
    EXPECT_FALSE(platform::isInstanceProcessRunning(0xFFFFFFF0u));
}

}  // namespace
}  // namespace qn
