#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "text/profile_format.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";

void writeIni(const std::string& content) { fake::addFile(kIni, content); }

TEST(ConfigFilePath, ReplacesTheTextAfterTheLastDot) {
    const struct {
        const char* module;
        const char* ini;
    } cases[] = {
        {"C:\\Apps\\Tool\\tool.exe", "C:\\Apps\\Tool\\tool.ini"},
        {"C:\\Apps\\Tool\\other.exe", "C:\\Apps\\Tool\\other.ini"},
        {"C:\\Apps\\Tool\\tool.v2.exe", "C:\\Apps\\Tool\\tool.v2.ini"},
        {"C:\\My.Apps\\tool", "C:\\My.ini"},  // Windows searches the whole path
        {"C:\\Apps\\tool", ""},                 // no dot: no configuration file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        fake::system().modulePath = std::string(c.module);
        EXPECT_EQ(c.ini, configFilePath(Launcher{}));
    }
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

TEST(ConfigFilePath, PosixIgnoresDotsInFolders) {
    fake::system().conventions = &posixConventions();
    const struct {
        const char* module;
        const char* ini;
    } cases[] = {
        {"/opt/app.d/tool", "/opt/app.d/tool.ini"},
        {"/opt/app/tool.bin", "/opt/app/tool.ini"},
        {"/opt/app/tool", "/opt/app/tool.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        fake::system().modulePath = std::string(c.module);
        EXPECT_EQ(c.ini, configFilePath(Launcher{}));
    }
}

TEST(ConfigFilePath, UnknownModulePathIsReported) {
    fake::system().modulePath.reset();
    fake::system().moduleError = 122;
    EXPECT_EQ("", configFilePath(Launcher{}));
    ASSERT_EQ(1u, fake::system().errorBoxes.size());
    EXPECT_EQ("Windows exception: failed to get the module path (errno = 122).\n",
              fake::system().errorBoxes[0]);
}

TEST(ReadProfileString, GrowsTheBufferUntilNothingIsCut) {
    const struct {
        std::size_t length;
        std::vector<std::uint32_t> sizes;
    } cases[] = {
        {0, {256}}, {254, {256}}, {255, {256, 512}}, {300, {256, 512}}, {511, {256, 512, 1024}},
        {5000, {256, 512, 1024, 2048, 4096, 8192}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string value(c.length, 'v');
        writeIni("[S]\r\nK=" + value + "\r\n");
        fake::system().profileBufferSizes.clear();
        EXPECT_EQ(value, readProfileString(kIni, "S", "K"));
        EXPECT_EQ(c.sizes, fake::system().profileBufferSizes);
    }
}

TEST(ProfileFormat, NamesInAnyCaseQuotesRemovedFirstWins) {
    writeIni(
        "; comment\r\n[java runtime ENVIRONMENT]\r\n  main class =  app.Main  \r\nA=\"quoted value\"\r\n"
        "B='single'\r\nC=\"unbalanced'\r\nD=\"\r\nmain class=second\r\n[Other]\r\nE=1\r\n"
        "[Java Runtime Environment]\r\nF=later section\r\n");
    EXPECT_EQ("app.Main", readProfileString(kIni, "Java Runtime Environment", "Main Class"));
    EXPECT_EQ("quoted value", readProfileString(kIni, "Java Runtime Environment", "a"));
    EXPECT_EQ("single", readProfileString(kIni, "Java Runtime Environment", "B"));
    EXPECT_EQ("\"unbalanced'", readProfileString(kIni, "Java Runtime Environment", "C"));
    EXPECT_EQ("\"", readProfileString(kIni, "Java Runtime Environment", "D"));
    EXPECT_EQ("", readProfileString(kIni, "Java Runtime Environment", "E"));
    EXPECT_EQ("", readProfileString(kIni, "Missing", "E"));
    EXPECT_EQ("", readProfileString("C:\\App\\none.ini", "Other", "E"));
}

TEST(ProfileFormat, LeadingUtf8MarkIsNotPartOfTheFirstSection) {
    writeIni("\xEF\xBB\xBF[Java Runtime Environment]\r\nMain Class=app.Main\r\n");
    EXPECT_EQ("app.Main", readProfileString(kIni, "Java Runtime Environment", "Main Class"));
    // A write keeps the mark and changes the section it belongs to.
    const std::string updated =
        profile::update(fake::system().files[kIni], "Java Runtime Environment", "JRE Path", "C:\\jre\\");
    EXPECT_EQ("\xEF\xBB\xBF[Java Runtime Environment]\r\nMain Class=app.Main\r\nJRE Path=C:\\jre\\\r\n",
              updated);
}

TEST(SettingsReader, AdditiveSections) {
    writeIni(
        "[Java Runtime Environment]\r\nMain Class=\r\nBoth=plain\r\n"
        "[Java Runtime Environment+]\r\nVirtual Machine Parameters=-Xmx512m\r\nMain Class=app.Main\r\n"
        "Both=plus\r\nBlank= x\r\n");
    const SettingsReader reader(kIni);
    const char* jre = "Java Runtime Environment";
    // The additive section's value comes back as written, without a blank in front: a keyword or
    // a name with a blank would never match or be found.
    EXPECT_EQ("-Xmx512m", reader.read(jre, "Virtual Machine Parameters"));
    EXPECT_EQ("app.Main", reader.read(jre, "Main Class"));
    EXPECT_EQ("plain", reader.read(jre, "Both"));
    EXPECT_EQ("", reader.read(jre, "Absent"));
    EXPECT_EQ("x", reader.read(jre, "Blank"));  // the profile reader trims what was written
}

TEST(ReadSettings, KeywordsAndNamesFromTheAdditiveSections) {
    writeIni(
        "[Java Runtime Environment+]\r\nMain Class=com.example.App\r\nJRE Path=C:\\jre\r\n"
        "JVM Type=server\r\nJVM Source=only_JDK\r\nVM Provider=ibm\r\n"
        "[Application+]\r\nApplication Type=service\r\nFailure Check=Yes\r\n");
    Launcher launcher;
    ASSERT_TRUE(readSettings(launcher));
    EXPECT_EQ("com/example/App", launcher.mainClass);
    EXPECT_EQ("C:\\jre", launcher.configuredJrePath);
    EXPECT_EQ(JvmType::ServerOnly, launcher.jvmType);
    EXPECT_FALSE(launcher.bothKinds);
    EXPECT_TRUE(launcher.jdkWanted);
    EXPECT_TRUE(launcher.ibmFavored);
    EXPECT_TRUE(launcher.isService);
    EXPECT_TRUE(launcher.failureCheck);
}

TEST(ReadSettings, MissingOrUnreadableFileIsNamedInsteadOfTheMainClass) {
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present);
        fake::reset();
        if (present) {
            writeIni("[Java Runtime Environment]\r\nMain Class=app.Main\r\n");
            fake::system().unreadableFiles.insert(kIni);
        }
        Launcher launcher;
        EXPECT_FALSE(readSettings(launcher));
        EXPECT_EQ(std::vector<std::string>{"INI file was not found or cannot be read: C:\\App\\app.ini"},
                  fake::system().errorBoxes);
        EXPECT_EQ(std::vector<platform::WindowHandle>{nullptr}, fake::system().errorBoxOwners);
        EXPECT_TRUE(fake::system().profileBufferSizes.empty());
    }
}

TEST(ReadSettings, MissingMainClassShowsOneBoxAndStops) {
    for (const char* content : {"", "[Java Runtime Environment]\r\nMain Class=\r\n"}) {
        SCOPED_TRACE(content);
        fake::reset();
        writeIni(content);
        Launcher launcher;
        EXPECT_FALSE(readSettings(launcher));
        EXPECT_EQ(std::vector<std::string>{"Main class was not specified in INI file."},
                  fake::system().errorBoxes);
        EXPECT_EQ(std::vector<platform::WindowHandle>{nullptr}, fake::system().errorBoxOwners);
    }
}

TEST(ReadSettings, NoDotInTheExecutablePathFailsSilently) {
    fake::system().modulePath = std::string("C:\\App\\app");
    Launcher launcher;
    EXPECT_FALSE(readSettings(launcher));
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

TEST(ReadSettings, EveryKeyIntoItsField) {
    writeIni(
        "[Product Information]\r\nProduct Code={0A1B}\r\nProduct Name=My Tool\r\n"
        "[Java Runtime Environment]\r\nMinimum Version=1.6\r\nMaximum Version=1.7\r\n"
        "Preferred versions=1.6;;1.5;\r\nJRE Path=jre\r\nJVM Type=favor_server\r\n"
        "JVM Source=favor_JRE\r\nVM Provider=FAVOR_IBM\r\nMain Class=com.example.App\r\n"
        "System Path=C:\\bin\r\nLibrary Path=native\r\n"
        "[Application]\r\nFailure Check=yEs\r\nOverride WorkingDir=YES\r\nApplication Type=service\r\n");
    Launcher launcher;
    ASSERT_TRUE(readSettings(launcher));
    EXPECT_EQ("{0A1B}", launcher.productCode);
    EXPECT_EQ("My Tool", launcher.productName);
    EXPECT_EQ((std::array<std::int32_t, 4>{1, 6, 0, 0}), launcher.minimumVersion.components);
    EXPECT_EQ((std::array<std::int32_t, 4>{1, 7, 65535, 65535}), launcher.maximumVersion.components);
    EXPECT_EQ((std::vector<std::string>{"1.6", "", "1.5"}), launcher.preferredVersions);
    EXPECT_EQ("jre", launcher.configuredJrePath);  // a service reads the configuration file
    EXPECT_EQ(JvmType::ServerFirst, launcher.jvmType);
    EXPECT_TRUE(launcher.bothKinds);
    EXPECT_FALSE(launcher.jdkWanted);
    EXPECT_TRUE(launcher.jreWanted);
    EXPECT_TRUE(launcher.ibmFavored);
    EXPECT_FALSE(launcher.javaSoftFavored);
    EXPECT_EQ("com/example/App", launcher.mainClass);
    EXPECT_TRUE(launcher.failureCheck);
    EXPECT_TRUE(launcher.overrideWorkingDir);
    EXPECT_TRUE(launcher.isService);
    EXPECT_EQ("C:\\bin", launcher.systemPath);
    EXPECT_EQ("native", launcher.libraryPath);
}

TEST(ReadSettings, ExactAndAnyCaseComparisons) {
    const struct {
        const char* application;
        const char* jvmType;
        bool failureCheck, service;
        JvmType type;
    } cases[] = {
        {"Failure Check=yes\r\nApplication Type=Service\r\n", "server", true, false, JvmType::ServerOnly},
        {"Failure Check=no\r\nApplication Type=service\r\n", "Server", false, true, JvmType::ClientFirst},
        {"Failure Check=Yes \r\n", "favor_Server", true, false, JvmType::ClientFirst},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.application);
        writeIni(std::string("[Java Runtime Environment]\r\nMain Class=a.B\r\nJVM Type=") + c.jvmType +
                 "\r\n[Application]\r\n" + c.application);
        Launcher launcher;
        ASSERT_TRUE(readSettings(launcher));
        EXPECT_EQ(c.failureCheck, launcher.failureCheck);
        EXPECT_EQ(c.service, launcher.isService);
        EXPECT_EQ(c.type, launcher.jvmType);
    }
}

TEST(ReadSettings, VersionBounds) {
    const struct {
        const char* minimum;
        const char* maximum;
        JavaVersion expectedMinimum, expectedMaximum;
    } cases[] = {
        {"any", "any", JavaVersion::lowBound(), JavaVersion::highBound()},
        {"ANY", "1.6", JavaVersion{{0, 0, 0, 0}, 0}, JavaVersion{{1, 6, 65535, 65535}, 2}},
        {"1.6.0_10", "1.6.0_10", JavaVersion{{1, 6, 0, 10}, 4}, JavaVersion{{1, 6, 0, 10}, 4}},
        // A maximum left out, or without digits, sets no upper bound.
        {"1.5", nullptr, JavaVersion{{1, 5, 0, 0}, 2}, JavaVersion::highBound()},
        {"", "none", JavaVersion{{0, 0, 0, 0}, 0}, JavaVersion::highBound()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.minimum) + " / " + (c.maximum ? c.maximum : "(absent)"));
        std::string ini = "[Java Runtime Environment]\r\nMain Class=a.B\r\nMinimum Version=" +
                          std::string(c.minimum) + "\r\n";
        if (c.maximum) ini += "Maximum Version=" + std::string(c.maximum) + "\r\n";
        writeIni(ini);
        Launcher launcher;
        ASSERT_TRUE(readSettings(launcher));
        EXPECT_EQ(c.expectedMinimum.components, launcher.minimumVersion.components);
        EXPECT_EQ(c.expectedMinimum.count, launcher.minimumVersion.count);
        EXPECT_EQ(c.expectedMaximum.components, launcher.maximumVersion.components);
        EXPECT_EQ(c.expectedMaximum.count, launcher.maximumVersion.count);
    }
}

TEST(JvmSource, Table) {
    const struct {
        const char* value;
        bool bothKinds, jdkWanted, jreWanted;
    } cases[] = {
        {"", true, true, true},           {"favor_JDK", true, true, false},
        {"favor_JRE", true, false, true}, {"only_JDK", false, true, false},
        {"only_JRE", false, false, true}, {"JDK", false, false, false},
        {"FAVOR_JDK", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Launcher launcher;
        applyJvmSource(launcher, c.value);
        EXPECT_EQ(c.bothKinds, launcher.bothKinds);
        EXPECT_EQ(c.jdkWanted, launcher.jdkWanted);
        EXPECT_EQ(c.jreWanted, launcher.jreWanted);
    }
}

TEST(VmProvider, TableInAnyCase) {
    // jrockit allowed/favoured, javaSoft allowed/favoured, ibm allowed/favoured
    const struct {
        const char* value;
        std::array<bool, 6> flags;
    } cases[] = {
        {"", {0, 0, 1, 1, 0, 0}},           {"unknown", {0, 0, 1, 1, 0, 0}},
        {"JRockit", {1, 1, 0, 0, 0, 0}},    {"ibm", {0, 0, 0, 0, 1, 1}},
        {"favor_sun", {1, 0, 1, 1, 1, 0}},  {"favor_jrockit", {1, 1, 1, 0, 1, 0}},
        {"FAVOR_IBM", {1, 0, 1, 0, 1, 1}},  {"Any", {1, 0, 1, 0, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Launcher launcher;
        applyVmProvider(launcher, c.value);
        const std::array<bool, 6> flags = {launcher.jrockitAllowed, launcher.jrockitFavored,
                                           launcher.javaSoftAllowed, launcher.javaSoftFavored,
                                           launcher.ibmAllowed,     launcher.ibmFavored};
        EXPECT_EQ(c.flags, flags);
    }
}

TEST(SplitList, Separators) {
    using List = std::vector<std::string>;
    EXPECT_EQ(List{}, splitList(""));
    EXPECT_EQ(List{"1.6"}, splitList("1.6"));
    EXPECT_EQ((List{"1.6", "1.5"}), splitList("1.6;1.5;"));
    EXPECT_EQ((List{"", "1.6"}), splitList(";1.6"));
    EXPECT_EQ((List{"1.6", "", "1.5"}), splitList("1.6;;1.5"));
    EXPECT_EQ((List{" 1.6 "}), splitList(" 1.6 ;"));
}

TEST(UserSettings, PathRule) {
    fake::system().modulePath = std::string("C:\\Apps\\Tool\\tool.exe");
    fake::system().environment["APPDATA"] = "C:\\Users\\u\\AppData\\Roaming";
    const struct {
        const char* name;
        const char* code;
        const char* path;
    } cases[] = {
        {"My Tool: Pro", "{0A1B}", "C:\\Users\\u\\AppData\\Roaming\\My Tool Pro\\{0A1B}\\tool.ini"},
        {"A/B:C?", "x", "C:\\Users\\u\\AppData\\Roaming\\ABC\\x\\tool.ini"},
        {"\\?\"|><:/*", "", "C:\\Users\\u\\AppData\\Roaming\\\\\\tool.ini"},
        // Code page 932: the second bytes 0x5C and 0x7C belong to their characters.
        {"\x83\x5C\x83\x74\x83\x67", "c", "C:\\Users\\u\\AppData\\Roaming\\\x83\x5C\x83\x74\x83\x67\\c\\tool.ini"},
        {"\x83\x7C:\x83\x5C/", "c", "C:\\Users\\u\\AppData\\Roaming\\\x83\x7C\x83\x5C\\c\\tool.ini"},
    };
    fake::system().leadBytes = {0x83};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launcher launcher;
        launcher.productName = c.name;
        launcher.productCode = c.code;
        EXPECT_EQ(c.path, userSettingsPath(launcher, false));
    }
    fake::system().environment.erase("APPDATA");
    Launcher launcher;
    launcher.productName = "P";
    launcher.productCode = "C";
    EXPECT_EQ("\\P\\C\\tool.ini", userSettingsPath(launcher, false));
    EXPECT_FALSE(fake::system().directories.count("\\P"));
}

TEST(UserSettings, PosixUsesTheConfigFolder) {
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/opt/tool/tool");
    fake::system().environment["HOME"] = "/home/u";
    Launcher launcher;
    launcher.productName = "My:App";
    launcher.productCode = "c1";
    EXPECT_EQ("/home/u/.config/MyApp/c1/tool.ini", userSettingsPath(launcher, false));
    fake::system().environment["XDG_CONFIG_HOME"] = "/xdg";
    EXPECT_EQ("/xdg/MyApp/c1/tool.ini", userSettingsPath(launcher, true));
    EXPECT_TRUE(fake::system().directories.count("/xdg/MyApp"));
    EXPECT_TRUE(fake::system().directories.count("/xdg/MyApp/c1"));
}

struct JrePathCase {
    bool ntFamily;
    bool service;
    const char* userFile;  // null: no per-user file
    const char* expected;
    bool userFileReadable = true;
};

TEST(ReadSettings, JrePathSource) {
    const JrePathCase cases[] = {
        {true, false, nullptr, "C:\\FromIni"},
        {true, false, "[Java Runtime Environment]\r\nJRE Path=C:\\FromUser\r\n", "C:\\FromUser"},
        {true, false, "[Java Runtime Environment]\r\nJRE Path=\r\n", ""},  // hides the ini's value
        {true, true, "[Java Runtime Environment]\r\nJRE Path=C:\\FromUser\r\n", "C:\\FromIni"},
        {false, false, "[Java Runtime Environment]\r\nJRE Path=C:\\FromUser\r\n", "C:\\FromIni"},
        // A per-user file that cannot be read holds no choice: the ini's value holds.
        {true, false, "[Java Runtime Environment]\r\nJRE Path=\r\n", "C:\\FromIni", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        fake::reset();
        fake::system().ntFamily = c.ntFamily;
        fake::system().environment["APPDATA"] = "C:\\AppData";
        writeIni(std::string("[Product Information]\r\nProduct Name=P\r\nProduct Code=C\r\n"
                             "[Java Runtime Environment]\r\nMain Class=a.B\r\nJRE Path=C:\\FromIni\r\n") +
                 (c.service ? "[Application]\r\nApplication Type=service\r\n" : ""));
        if (c.userFile) fake::addFile("C:\\AppData\\P\\C\\app.ini", c.userFile);
        if (!c.userFileReadable) fake::system().unreadableFiles.insert("C:\\AppData\\P\\C\\app.ini");
        Launcher launcher;
        ASSERT_TRUE(readSettings(launcher));
        EXPECT_EQ(c.expected, launcher.configuredJrePath);
    }
}

TEST(RememberJrePath, PerUserFileOrTheIni) {
    fake::system().environment["APPDATA"] = "C:\\AppData";
    fake::addDirectory("C:\\AppData");
    writeIni("[Java Runtime Environment]\r\nMain Class=a.B\r\n");
    Launcher launcher;
    launcher.productName = "P";
    launcher.productCode = "C";
    rememberJrePath(launcher, "C:\\Java\\jre6\\");
    EXPECT_EQ("[Java Runtime Environment]\r\nJRE Path=C:\\Java\\jre6\\\r\n",
              fake::system().files["C:\\AppData\\P\\C\\app.ini"]);
    EXPECT_EQ("[Java Runtime Environment]\r\nMain Class=a.B\r\n", fake::system().files[kIni]);

    launcher.isService = true;
    rememberJrePath(launcher, "D:\\jre\\");
    EXPECT_EQ("[Java Runtime Environment]\r\nMain Class=a.B\r\nJRE Path=D:\\jre\\\r\n",
              fake::system().files[kIni]);
}

TEST(RememberJrePath, NothingWithoutAConfigurationPath) {
    fake::system().modulePath = std::string("C:\\App\\app");
    Launcher launcher;
    launcher.isService = true;
    rememberJrePath(launcher, "C:\\jre\\");
    EXPECT_TRUE(fake::system().files.empty());
}

TEST(SetWorkingFolder, FolderOfTheExecutable) {
    const struct {
        const char* module;
        const char* current;
    } cases[] = {
        {"C:\\Apps\\Tool\\tool.exe", "C:\\Apps\\Tool"},
        {"E:\\tool.exe", "E:\\"},  // the drive's root, not its current folder
        {"\\\\server\\share\\tool.exe", "\\\\server\\share"},
        {"\\tool.exe", "C:\\Work"},  // a backslash only at the start: unchanged
        {"tool.exe", "C:\\Work"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        fake::system().currentDirectory = "C:\\Work";
        fake::system().modulePath = std::string(c.module);
        setWorkingFolder(Launcher{});
        EXPECT_EQ(c.current, fake::system().currentDirectory);
    }
}

}  // namespace
}  // namespace qn
