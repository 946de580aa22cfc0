// What the launcher's steps tell the trace: the lines a support engineer reads to learn which file,
// which value and which choice a start used.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_instance_channel.h"
#include "fake_platform.h"
#include "instance/instance_block.h"
#include "instance/instance_request.h"
#include "instance/single_instance.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "splash/splash.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";

bool hasLine(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(LaunchTrace, KeysShowTheirRawValueTheirSectionAndTheValueUsed) {
    fake::addFile(kIni,
                  "[Java Runtime Environment]\r\nMain Class=app.Main\r\nEmpty=\r\n"
                  "[Java Runtime Environment+]\r\nVirtual Machine Parameters=-Xmx512m\r\n"
                  "Blank= -Dx\r\nMain Class=ignored\r\n");
    fake::startTrace();
    const SettingsReader reader(kIni);
    const char* jre = "Java Runtime Environment";
    reader.read(jre, "Main Class");
    reader.read(jre, "Virtual Machine Parameters");
    reader.read(jre, "Empty");
    readProfileString(kIni, jre, "Main Class");
    EXPECT_EQ((std::vector<std::string>{
                  "key: [Java Runtime Environment] Main Class = \"app.Main\"",
                  "key: [Java Runtime Environment] Virtual Machine Parameters empty, "
                  "[Java Runtime Environment+] Virtual Machine Parameters = \"-Xmx512m\"",
                  "key: [Java Runtime Environment] Empty empty, [Java Runtime Environment+] Empty empty",
                  "key: [Java Runtime Environment] Main Class = \"app.Main\"",
              }),
              fake::tracedLines());
}

TEST(LaunchTrace, ReadSettingsNamesTheFilesFirstAndTheValuesUsed) {
    fake::addFile(kIni,
                  "[Java Runtime Environment]\r\nMain Class=com.example.App\r\nMinimum Version=17\r\n"
                  "Maximum Version=any\r\nJVM Type=server\r\nJVM Source=bogus\r\nVM Provider=favor_ibm\r\n"
                  "Preferred versions=21;17\r\n");
    fake::startTrace();
    Launcher launcher;
    ASSERT_TRUE(readSettings(launcher));
    const std::vector<std::string> lines = fake::tracedLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("launcher: executable C:\\App\\app.exe", lines[0]);
    EXPECT_EQ("launcher: configuration file C:\\App\\app.ini", lines[1]);
    SCOPED_TRACE(joined(lines));
    for (const char* wanted : {
             "setting: version range 17.0.0.0 to 65535.65535.65535.65535",
             "setting: preferred versions \"21\", \"17\"",
             "setting: library flavours server only",
             "setting: runtime kinds none (the value is not one of the known ones)",
             "setting: vendors JavaSoft, JRockit, IBM (favoured)",
             "setting: main class com/example/App",
         }) {
        EXPECT_TRUE(hasLine(lines, wanted)) << wanted;
    }
}

TEST(LaunchTrace, AMissingConfigurationFileAndItsMessageAreTraced) {
    fake::startTrace();
    Launcher launcher;
    EXPECT_FALSE(readSettings(launcher));
    const std::vector<std::string> lines = fake::tracedLines();
    SCOPED_TRACE(joined(lines));
    EXPECT_TRUE(hasLine(lines, "launcher: configuration file C:\\App\\app.ini (missing)"));
    EXPECT_EQ("message: INI file was not found or cannot be read: C:\\App\\app.ini", lines.back());
}

TEST(LaunchTrace, PerUserSettingsFileUsedOrNotAndWhy) {
    const struct {
        const char* name;
        bool ntFamily;
        bool service;
        bool userFile;
        const char* wanted;
        const char* product = "Product Name=P\r\nProduct Code=C\r\n";
    } cases[] = {
        {"file exists", true, false, true,
         "per-user: used: C:\\AppData\\P\\C\\app.ini exists; its JRE Path replaces the configuration file's"},
        {"no file", true, false, false, "per-user: not used: C:\\AppData\\P\\C\\app.ini does not exist"},
        // Empty product keys leave empty parts in the path, which the line does not show.
        {"no product keys", true, false, false, "per-user: not used: C:\\AppData\\app.ini does not exist", ""},
        {"service", true, true, true, "per-user: not used: a service application"},
        {"old system", false, false, true, "per-user: not used: not an NT-family system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::system().ntFamily = c.ntFamily;
        fake::system().environment["APPDATA"] = "C:\\AppData";
        fake::addFile(kIni, std::string("[Product Information]\r\n") + c.product +
                                "[Java Runtime Environment]\r\nMain Class=a.B\r\n" +
                                (c.service ? "[Application]\r\nApplication Type=service\r\n" : ""));
        if (c.userFile) fake::addFile("C:\\AppData\\P\\C\\app.ini", "[Java Runtime Environment]\r\nJRE Path=C:\\J\r\n");
        fake::startTrace();
        Launcher launcher;
        ASSERT_TRUE(readSettings(launcher));
        const std::vector<std::string> lines = fake::tracedLines();
        SCOPED_TRACE(joined(lines));
        EXPECT_TRUE(hasLine(lines, c.wanted));
    }
}

TEST(LaunchTrace, RememberedRuntimeFolderNamesItsFile) {
    fake::system().environment["APPDATA"] = "C:\\AppData";
    fake::addDirectory("C:\\AppData");
    fake::addFile(kIni, "[Product Information]\r\nProduct Name=P\r\nProduct Code=C\r\n");
    fake::startTrace();
    Launcher launcher;
    launcher.productName = "P";
    launcher.productCode = "C";
    rememberJrePath(launcher, "D:\\Java");
    EXPECT_EQ("per-user: remembered JRE Path \"D:\\Java\" in C:\\AppData\\P\\C\\app.ini",
              fake::tracedLines().back());
}

// A block as a running first instance leaves it.
InstanceBlock& runningFirstInstance() {
    std::vector<unsigned char>& bytes = fake::channel().blocks["C:_App_app.exe"];
    bytes.assign(instanceBlockSize, 0);
    auto& block = *reinterpret_cast<InstanceBlock*>(bytes.data());
    publishExtension(*reinterpret_cast<ExtendedInstanceBlock*>(bytes.data()), 0);
    block.listenerThreadId = 77;
    block.firstProcessId = 5000;
    block.requestMessage = 0xC0DE;
    fake::channel().runningInstances.insert(5000);
    return block;
}

TEST(LaunchTrace, ALaterInstanceNamesItsBlockWhatItHandedOverAndTheReply) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=a.B\r\n[Application]\r\nSingle Instance=yes\r\n");
    InstanceBlock& block = runningFirstInstance();
    fake::startTrace();
    Launcher launcher;
    launcher.arguments = {"open", "my file.txt", ""};
    ASSERT_TRUE(setUpSingleInstance(launcher));
    fake::channel().openableProcesses.insert(5000);
    fake::channel().queue = {{0xC0DE, 0xFFFFFFFEu, launcher.instanceRequestId}};
    launcher.instanceView = &block;
    EXPECT_EQ(-2, waitForFirstInstance(launcher));
    const std::vector<std::string> lines = fake::tracedLines();
    SCOPED_TRACE(joined(lines));
    EXPECT_TRUE(hasLine(lines, "instance: block C:_App_app.exe"));
    EXPECT_TRUE(hasLine(lines, "instance: handing over 3 arguments \"open\" \"my file.txt\" \"\""));
    EXPECT_EQ("instance: reply -2", lines.back());
}

TEST(LaunchTrace, ALaterInstanceWhoseFirstEndsTracesTheExitCode) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=a.B\r\n");
    InstanceBlock& block = runningFirstInstance();
    fake::channel().openableProcesses.insert(5000);
    fake::channel().exitCodes = {platform::stillActive, 3u};
    fake::startTrace();
    Launcher launcher;
    launcher.singleInstance = true;
    launcher.instanceView = &block;
    EXPECT_EQ(3, waitForFirstInstance(launcher));
    EXPECT_EQ((std::vector<std::string>{"instance: first instance ended with exit code 3"}), fake::tracedLines());
}

TEST(LaunchTrace, SplashChoiceAndWhy) {
    const char* const jvm = "C:\\Java\\jre\\bin\\client\\jvm.dll";
    const struct {
        const char* name;
        const char* display;
        bool refuseWindow;
        const char* wanted;
    } cases[] = {
        {"no picture", "", false, "splash: none: no picture configured"},
        {"own window", "Splash Screen=s.bmp\r\n", false, "splash: own window shows s.bmp"},
        {"native asked, no library", "Splash Screen=s.bmp\r\nPreffer Native Splash Screen=yes\r\n", false,
         "splash: no splash library beside the runtime"},
        {"window refused", "Splash Screen=s.bmp\r\n", true, "splash: none: the own window could not be made"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::system().deferThreads = true;  // the window's thread is not run
        fake::system().refuseSplashWindow = c.refuseWindow;
        fake::addFile(kIni, std::string("[Display]\r\n") + c.display);
        fake::startTrace();
        Launcher launcher;
        launcher.jvmLibraryPath = jvm;
        ASSERT_TRUE(startSplash(launcher));
        const std::vector<std::string> lines = fake::tracedLines();
        SCOPED_TRACE(joined(lines));
        EXPECT_TRUE(hasLine(lines, c.wanted));
        launcher.splashWindow.reset();
        launcher.splashThread.reset();
    }
}

TEST(LaunchTrace, NothingIsTracedWithoutTheVariable) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=a.B\r\n");
    Launcher launcher;
    ASSERT_TRUE(readSettings(launcher));
    EXPECT_TRUE(fake::tracedLines().empty());
    EXPECT_EQ("", fake::system().standardError);
}

}  // namespace
}  // namespace qn
