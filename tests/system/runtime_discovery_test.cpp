// The runtime search against this machine's real file system and its installed JDKs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "runtime/runtime_search.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

int majorVersionOf(const std::string& library) {
    // .../<home>/lib/server/libjvm.so: read the home's release file.
    const fs::path home = fs::path(library).parent_path().parent_path().parent_path();
    std::ifstream release(home / "release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("JAVA_VERSION=\"", 0) == 0) return std::stoi(line.substr(14));
    }
    return -1;
}

bool anyInstalledAtLeast(int major) {
    for (const auto& entry : fs::directory_iterator("/usr/lib/jvm")) {
        std::ifstream release(entry.path() / "release");
        std::string line;
        while (std::getline(release, line)) {
            if (line.rfind("JAVA_VERSION=\"", 0) == 0 && std::stoi(line.substr(14)) >= major) return true;
        }
    }
    return false;
}

class RealRuntimes : public testing::Test {
protected:
    void SetUp() override { unsetenv("JAVA_HOME"); }
    void configure(const char* minimum, const char* maximum, const char* preferred) {
        launcher.minimumVersion = JavaVersion::parsed(minimum, 0);
        launcher.maximumVersion = *maximum ? JavaVersion::parsed(maximum, 65535) : JavaVersion::highBound();
        launcher.preferredVersions = splitList(preferred);
    }
    Launcher launcher;
};

TEST_F(RealRuntimes, TheInstalledJdk17IsFoundAndPicked) {
    configure("", "17", "");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(17, majorVersionOf(launcher.jvmLibraryPath));
    EXPECT_EQ(17, launcher.runtimeVersion.components[0]);
    EXPECT_EQ(0, access(launcher.jvmLibraryPath.c_str(), R_OK));
}

TEST_F(RealRuntimes, PreferredListAndMinimum) {
    configure("", "", "17");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(17, majorVersionOf(launcher.jvmLibraryPath));

    Launcher newer;
    newer.minimumVersion = JavaVersion::parsed("18", 0);
    newer.maximumVersion = JavaVersion::highBound();
    EXPECT_EQ(anyInstalledAtLeast(18), findRuntime(newer));
    if (!newer.jvmLibraryPath.empty()) {
        EXPECT_GE(majorVersionOf(newer.jvmLibraryPath), 18);
    }
}

TEST_F(RealRuntimes, JavaHomeJoinsTheCandidates) {
    char pattern[] = "/tmp/qn-java-home-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    const fs::path home = pattern;
    fs::create_directories(home / "lib/server");
    fs::create_directories(home / "bin");
    std::ofstream(home / "release") << "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"99.0.1\"\n";
    std::ofstream(home / "lib/server/libjvm.so") << "";
    setenv("JAVA_HOME", pattern, 1);

    configure("", "", "");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ((home / "lib/server/libjvm.so").string(), launcher.jvmLibraryPath);
    EXPECT_EQ("99.0.1", JavaVersion::toText(launcher.runtimeVersion));

    // Without a compiler it is a runtime, not a JDK: only_JDK passes it over.
    Launcher jdkOnly;
    jdkOnly.maximumVersion = JavaVersion::highBound();
    applyJvmSource(jdkOnly, "only_JDK");
    ASSERT_TRUE(findRuntime(jdkOnly));
    EXPECT_NE((home / "lib/server/libjvm.so").string(), jdkOnly.jvmLibraryPath);
    fs::remove_all(home);
}

}  // namespace
}  // namespace qn
