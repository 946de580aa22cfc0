#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/launcher.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";

TEST(Launcher, WithoutMainClassOneBoxNoSearchAndMinusOne) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nJRE Path=C:\\Java\\jre\r\n");
    fake::addFile("C:\\Java\\jre\\bin\\client\\jvm.dll");
    fake::system().searchedPaths.clear();
    EXPECT_EQ(-1, runLauncher());
    EXPECT_EQ(std::vector<std::string>{"Main class was not specified in INI file."},
              fake::system().errorBoxes);
    for (const std::string& path : fake::system().searchedPaths) {
        EXPECT_EQ(std::string::npos, path.find("jvm.dll")) << path;
    }
}

TEST(Launcher, WithoutConfigurationPathEndsSilently) {
    fake::system().modulePath = std::string("C:\\App\\app");
    EXPECT_EQ(-1, runLauncher());
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

TEST(Launcher, WorkingFolderIsSetBeforeTheSearch) {
    fake::system().modulePath = std::string("C:\\Apps\\Tool\\tool.exe");
    fake::addFile("C:\\Apps\\Tool\\tool.ini",
                  "[Java Runtime Environment]\r\nMain Class=a.B\r\n[Application]\r\nOverride WorkingDir=yes\r\n");
    Launcher launcher;
    launcher.prepare();
    EXPECT_EQ("C:\\Apps\\Tool", fake::system().currentDirectory);
}

TEST(Launcher, WorkingFolderStaysWithoutTheSwitch) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=a.B\r\n[Application]\r\nOverride WorkingDir=no\r\n");
    Launcher launcher;
    launcher.prepare();
    EXPECT_EQ("C:\\Work", fake::system().currentDirectory);
}

TEST(Launcher, ArgumentsAreReadBeforeTheSettings) {
    fake::system().commandLine = {true, "app.exe a \"b c\"", {}};
    Launcher launcher;
    launcher.prepare();  // fails: no configuration file; the arguments are there all the same
    EXPECT_EQ((std::vector<std::string>{"a", "b c"}), launcher.arguments);
}

TEST(Launcher, SplashStepThatCannotFindTheIniEndsAsAFailure) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=a.B\r\nJRE Path=C:\\Java\\jre\r\n");
    fake::addFile("C:\\Java\\jre\\bin\\client\\jvm.dll");
    Launcher launcher;
    ASSERT_TRUE(launcher.prepare());
    // The own path is lost between the phases: the splash step reports it and stops the run.
    fake::system().modulePath.reset();
    fake::system().moduleError = 5;
    EXPECT_EQ(-1, launcher.run());
    ASSERT_FALSE(fake::system().errorBoxes.empty());
    EXPECT_EQ("Windows exception: failed to get the module path (errno = 5).\n",
              fake::system().errorBoxes.back());
    EXPECT_EQ(nullptr, launcher.javaVm);
}

}  // namespace
}  // namespace qn
