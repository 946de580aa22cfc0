#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "runtime/missing_runtime.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";
const char* const kUserFile = "C:\\Users\\u\\AppData\\Roaming\\Tool\\{0A1B}\\app.ini";
const std::string kIniContent =
    "[Product Information]\r\nProduct Name=Tool\r\nProduct Code={0A1B}\r\n"
    "[Java Runtime Environment]\r\nMain Class=a.B\r\n";

class MissingRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        fake::system().environment["APPDATA"] = "C:\\Users\\u\\AppData\\Roaming";
        fake::addDirectory("C:\\Users\\u\\AppData\\Roaming");
        fake::addFile(kIni, kIniContent);
        launcher.productName = "Tool";
        launcher.productCode = "{0A1B}";
    }

    std::map<std::string, std::string> filesNow() const { return fake::system().files; }

    Launcher launcher;
};

TEST_F(MissingRuntime, MessageNamesTheFlavourAndTheVersionPhrase) {
    const std::string plain = "The Java Runtime Environment (JRE) was not found. Please  download "
                              "and install a JRE (%s) from:";
    const std::string server = "The Java Runtime Environment (JRE) was not found. Please  download "
                               "and install a JRE with a server JVM (%s) from:";
    const struct {
        JvmType type;
        const char* minimum;
        const char* maximum;
        std::string message;
        const char* phrase;
    } cases[] = {
        {JvmType::ServerOnly, "any", "any", server, "latest version"},
        {JvmType::ClientFirst, "any", "any", plain, "latest version"},
        {JvmType::ServerFirst, "any", "any", plain, "latest version"},  // not the server text
        {JvmType::ClientFirst, "1.6", "any", plain, "minimum version 1.6"},
        {JvmType::ClientFirst, "any", "2", plain, "maximum version 2.65535"},
        {JvmType::ServerOnly, "1.6", "1.6", server, "version between 1.6 and 1.6"},
        {JvmType::ClientFirst, "1.6.0_10", "1.6.0_10", plain, "version 1.6.0.10 is required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message + " / " + c.phrase);
        fake::system().runtimeQuestions.clear();
        launcher.jvmType = c.type;
        launcher.minimumVersion = std::string(c.minimum) == "any" ? JavaVersion::lowBound()
                                                                  : JavaVersion::parsed(c.minimum, 0);
        launcher.maximumVersion = std::string(c.maximum) == "any" ? JavaVersion::highBound()
                                                                  : JavaVersion::parsed(c.maximum, 65535);
        EXPECT_FALSE(resolveMissingRuntime(launcher));
        std::string expected = c.message;
        expected.replace(expected.find("%s"), 2, c.phrase);
        EXPECT_EQ(std::vector<std::string>{expected}, fake::system().runtimeQuestions);
    }
}

TEST_F(MissingRuntime, CancelClosingAndUnconfirmedChoicesChangeNothing) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    const struct {
        const char* name;
        std::vector<std::string> script;
    } cases[] = {
        {"cancel at once", {"cancel"}},
        {"closed at once", {}},
        {"valid folder, then cancel", {"browse C:\\Java\\jre6", "cancel"}},
        {"valid folder, then closed", {"browse C:\\Java\\jre6"}},
        {"ok while disabled, then closed", {"ok", "browse C:\\Empty"}},
        {"valid then empty folder, ok, closed", {"browse C:\\Java\\jre6", "browse C:\\Empty", "ok"}},
    };
    const auto before = filesNow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::system().runtimeDialogScript = c.script;
        Launcher fresh;
        fresh.productName = "Tool";
        fresh.productCode = "{0A1B}";
        EXPECT_FALSE(resolveMissingRuntime(fresh));
        EXPECT_EQ("", fresh.jvmLibraryPath);
        EXPECT_EQ(before, filesNow());
    }
}

TEST_F(MissingRuntime, OkFollowsTheLastBrowse) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    fake::addDirectory("C:\\Empty");
    fake::system().runtimeDialogScript = {"browse C:\\Java\\jre6", "browse C:\\Empty", "ok",
                                          "browse-cancel", "ok", "browse C:\\Java\\jre6\\", "ok"};
    ASSERT_TRUE(resolveMissingRuntime(launcher));
    EXPECT_EQ((std::vector<std::string>{
                  "C:\\Java\\jre6\\ -> C:\\Java\\jre6\\bin\\client\\jvm.dll",
                  "C:\\Empty\\ -> none",
                  "ok ignored",
                  "browse cancelled",
                  "ok ignored",  // a cancelled browse keeps the empty folder
                  "C:\\Java\\jre6\\ -> C:\\Java\\jre6\\bin\\client\\jvm.dll",  // no second backslash
              }),
              fake::system().runtimeDialogEvents);
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
}

TEST_F(MissingRuntime, TheFolderCheckFollowsTheJvmType) {
    const struct {
        JvmType type;
        std::vector<const char*> flavours;
        const char* expected;
    } cases[] = {
        {JvmType::ServerOnly, {"bin\\client\\jvm.dll"}, "none"},
        {JvmType::ServerOnly, {"bin\\client\\jvm.dll", "bin\\server\\jvm.dll"}, "bin\\server\\jvm.dll"},
        {JvmType::ServerFirst, {"bin\\client\\jvm.dll"}, "bin\\client\\jvm.dll"},
        {JvmType::ServerFirst, {"bin\\client\\jvm.dll", "bin\\server\\jvm.dll"}, "bin\\server\\jvm.dll"},
        {JvmType::ClientFirst, {"bin\\client\\jvm.dll", "bin\\server\\jvm.dll"}, "bin\\client\\jvm.dll"},
        {JvmType::ClientFirst, {"bin\\server\\jvm.dll"}, "bin\\server\\jvm.dll"},
        {JvmType::ClientFirst, {"jre\\bin\\client\\jvm.dll"}, "none"},  // a JDK top folder
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string home = "C:\\Java\\r" + std::to_string(n++) + "\\";
        SCOPED_TRACE(home);
        for (const char* flavour : c.flavours) fake::addFile(home + flavour);
        fake::system().runtimeDialogEvents.clear();
        fake::system().runtimeDialogScript = {"browse " + home.substr(0, home.size() - 1)};
        Launcher fresh;
        fresh.jvmType = c.type;
        EXPECT_FALSE(resolveMissingRuntime(fresh));
        const std::string expected = c.expected == std::string("none") ? "none" : home + c.expected;
        EXPECT_EQ(std::vector<std::string>{home + " -> " + expected}, fake::system().runtimeDialogEvents);
    }
}

TEST_F(MissingRuntime, AFolderEndingInADoubleByteCharacterIsCheckedInside) {
    fake::system().leadBytes = {0x95};
    const std::string folder = "C:\\Java\\\x95\\";  // 0x95 0x5C is one character
    fake::addFile(folder + "\\bin\\client\\jvm.dll");
    fake::system().runtimeDialogScript = {"browse " + folder, "ok"};
    ASSERT_TRUE(resolveMissingRuntime(launcher));
    EXPECT_EQ(folder + "\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ(folder + "\\", readProfileString(kUserFile, "Java Runtime Environment", "JRE Path"));
}

TEST_F(MissingRuntime, OkRemembersTheFolderPerUser) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    fake::system().runtimeDialogScript = {"browse C:\\Java\\jre6", "ok"};
    ASSERT_TRUE(resolveMissingRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    ASSERT_TRUE(fake::system().files.count(kUserFile));
    EXPECT_EQ("C:\\Java\\jre6\\",
              readProfileString(kUserFile, "Java Runtime Environment", "JRE Path"));
    EXPECT_EQ(kIniContent, fake::system().files[kIni]);  // the configuration file is untouched
}

TEST_F(MissingRuntime, AServiceOrAnOlderSystemRemembersInTheConfigurationFile) {
    const struct {
        const char* name;
        bool service;
        bool ntFamily;
    } cases[] = {{"service", true, true}, {"older Windows", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::addFile(kIni, kIniContent);
        fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
        fake::system().ntFamily = c.ntFamily;
        fake::system().runtimeDialogScript = {"browse C:\\Java\\jre6", "ok"};
        Launcher fresh;
        fresh.productName = "Tool";
        fresh.productCode = "{0A1B}";
        fresh.isService = c.service;
        ASSERT_TRUE(resolveMissingRuntime(fresh));
        EXPECT_EQ("C:\\Java\\jre6\\", readProfileString(kIni, "Java Runtime Environment", "JRE Path"));
        EXPECT_EQ("a.B", readProfileString(kIni, "Java Runtime Environment", "Main Class"));
        EXPECT_FALSE(fake::system().files.count(kUserFile));
    }
}

TEST_F(MissingRuntime, AFailedWriteStillUsesTheChoice) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    fake::system().runtimeDialogScript = {"browse C:\\Java\\jre6", "ok"};
    fake::system().modulePath.reset();  // the configuration file's path cannot be formed
    EXPECT_TRUE(resolveMissingRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_FALSE(fake::system().files.count(kUserFile));
    EXPECT_EQ(kIniContent, fake::system().files[kIni]);
}

TEST_F(MissingRuntime, TheNextStartFindsTheRememberedFolderWithoutAsking) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    fake::system().runtimeDialogScript = {"browse C:\\Java\\jre6", "ok"};
    {
        Launcher first;
        ASSERT_TRUE(first.prepare());
        EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", first.jvmLibraryPath);
    }
    EXPECT_EQ(1u, fake::system().runtimeQuestions.size());
    Launcher second;
    ASSERT_TRUE(second.prepare());
    EXPECT_EQ("C:\\Java\\jre6\\", second.configuredJrePath);
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", second.jvmLibraryPath);
    EXPECT_EQ(1u, fake::system().runtimeQuestions.size());
}

TEST_F(MissingRuntime, AnExistingUserFileHidesTheConfiguredFolderEvenWhenEmpty) {
    fake::addFile("C:\\Java\\jre6\\bin\\client\\jvm.dll");
    fake::addFile(kIni, kIniContent + "JRE Path=C:\\Java\\jre6\r\n");
    fake::addFile(kUserFile, "[Java Runtime Environment]\r\nJRE Path=\r\n");
    Launcher hidden;
    EXPECT_FALSE(hidden.prepare());  // the dialog is asked and closed
    EXPECT_EQ("", hidden.configuredJrePath);
    EXPECT_EQ(1u, fake::system().runtimeQuestions.size());
}

}  // namespace
}  // namespace qn
