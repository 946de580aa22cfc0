#include "runtime/runtime_search.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "fake_registry.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"

namespace qn {
namespace {

const std::string kJdkKey = "Software\\JavaSoft\\Java Development Kit\\";
const std::string kJreKey = "Software\\JavaSoft\\Java Runtime Environment\\";
const std::string kJrockitJreKey = "Software\\JRockit\\Java Runtime Environment\\";
const std::string kJrockitJdkKey = "Software\\JRockit\\Java Development Kit\\";
const std::string kIbmKey = "Software\\IBM\\Java2 Runtime Environment\\";

void addRuntime(const std::string& home, std::initializer_list<const char*> flavours) {
    for (const char* flavour : flavours) fake::addFile(home + flavour);
}

void configure(Launcher& launcher, const std::string& jvmSource = "",
               const std::string& provider = "") {
    launcher.maximumVersion = JavaVersion::highBound();
    applyJvmSource(launcher, jvmSource);
    applyVmProvider(launcher, provider);
}

/// A runtime folder as installed on Linux: its release file, a compiler for a JDK, its library.
void addPosixRuntime(const std::string& home, const std::string& version, bool isJdk,
                     const char* library = "lib/server/libjvm.so", const std::string& libraryContent = "") {
    fake::addFile(home + "/release", "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"" + version + "\"\n");
    if (isJdk) fake::addFile(home + "/bin/javac");
    if (library) fake::addFile(home + "/" + library, libraryContent);
}

bool wasOpened(const std::string& key) {
    const auto& opened = fake::registry().opened;
    return std::find(opened.begin(), opened.end(), key) != opened.end();
}

TEST(FindJvmLibrary, FlavourOrders) {
    const struct {
        std::vector<const char*> present;
        JvmType type;
        const char* found;
        bool isServer;
    } cases[] = {
        {{"bin\\server\\jvm.dll", "bin\\client\\jvm.dll"},
         JvmType::ClientFirst,
         "bin\\client\\jvm.dll",
         false},
        {{"bin\\server\\jvm.dll", "bin\\client\\jvm.dll"},
         JvmType::ServerFirst,
         "bin\\server\\jvm.dll",
         true},
        {{"bin\\server\\jvm.dll", "bin\\client\\jvm.dll"},
         JvmType::ServerOnly,
         "bin\\server\\jvm.dll",
         true},
        {{"bin\\client\\jvm.dll"}, JvmType::ServerOnly, "", false},
        {{"bin\\client\\jvm.dll"}, JvmType::ServerFirst, "bin\\client\\jvm.dll", false},
        {{"bin\\jrockit\\jvm.dll", "bin\\hotspot\\jvm.dll"},
         JvmType::ClientFirst,
         "bin\\hotspot\\jvm.dll",
         false},
        {{"bin\\jrockit\\jvm.dll", "bin\\classic\\jvm.dll"},
         JvmType::ClientFirst,
         "bin\\classic\\jvm.dll",
         false},
        {{"bin\\jrockit\\jvm.dll", "bin\\server\\jvm.dll"},
         JvmType::ClientFirst,
         "bin\\server\\jvm.dll",
         true},
        {{"bin\\jrockit\\jvm.dll"}, JvmType::ServerFirst, "bin\\jrockit\\jvm.dll", false},
        {{"bin\\java.dll"}, JvmType::ClientFirst, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found);
        fake::reset();
        for (const char* file : c.present) fake::addFile(std::string("C:\\J\\") + file);
        bool isServer = !c.isServer;
        const std::string found = findJvmLibrary("C:\\J\\", c.type, isServer);
        EXPECT_EQ(*c.found ? std::string("C:\\J\\") + c.found : "", found);
        if (*c.found) {
            EXPECT_EQ(c.isServer, isServer);
        }
    }
}

TEST(FindRuntime, ConfiguredFolderWithOrWithoutBackslashAndRelative) {
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll"});
    addRuntime("C:\\App\\jre\\", {"bin\\server\\jvm.dll"});
    // Planted where the user starts from: never taken.
    addRuntime("jre\\", {"bin\\client\\jvm.dll"});
    addRuntime("C:\\Work\\jre\\", {"bin\\client\\jvm.dll"});
    const struct {
        const char* configured;
        const char* library;
    } cases[] = {
        {"C:\\Java\\jre6", "C:\\Java\\jre6\\bin\\client\\jvm.dll"},
        {"C:\\Java\\jre6\\", "C:\\Java\\jre6\\bin\\client\\jvm.dll"},
        // A relative folder is the application folder's, however it is written.
        {"jre", "C:\\App\\jre\\bin\\server\\jvm.dll"},
        {"C:jre", "C:\\App\\jre\\bin\\server\\jvm.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        Launcher launcher;
        configure(launcher);
        launcher.configuredJrePath = c.configured;
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ(c.library, launcher.jvmLibraryPath);
        EXPECT_TRUE(fake::registry().opened.empty());
    }
}

TEST(FindRuntime, RelativeConfiguredFolderWithoutTheApplicationFolder) {
    fake::system().modulePath.reset();
    fake::system().moduleError = 5;
    addRuntime("C:\\Work\\jre\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    launcher.configuredJrePath = "jre";
    EXPECT_FALSE(findRuntime(launcher));
    // Reported once, by the local-runtime step.
    EXPECT_EQ(std::vector<std::string>{"Windows exception: failed to get the module path (errno = 5).\n"},
              fake::system().errorBoxes);
}

TEST(FindRuntime, AFolderEndingInADoubleByteCharacterStillGetsItsSeparator) {
    // In a double-byte code page the second byte of a character can have the separator's value:
    // such a folder does not end in a separator.
    fake::system().leadBytes = {0x95};
    const std::string folder = "C:\\Java\\\x95\\";  // a one-character folder name, 0x95 0x5C
    addRuntime(folder + "\\", {"bin\\client\\jvm.dll"});
    addRuntime(folder + "\\jre\\", {"bin\\server\\jvm.dll"});
    const std::string client = folder + "\\bin\\client\\jvm.dll";
    const std::string server = folder + "\\jre\\bin\\server\\jvm.dll";
    {
        SCOPED_TRACE("configured folder");
        Launcher launcher;
        configure(launcher);
        launcher.configuredJrePath = folder;
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ(client, launcher.jvmLibraryPath);
    }
    const struct {
        const std::string& key;
        const std::string& library;
    } registrations[] = {{kJreKey, client}, {kJdkKey, server}};
    for (const auto& r : registrations) {
        SCOPED_TRACE(r.key);
        fake::registry() = {};
        fake::registerRuntime(r.key, "1.8", folder);
        Launcher launcher;
        configure(launcher);
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ(r.library, launcher.jvmLibraryPath);
    }
}

TEST(FindRuntime, ConfiguredFolderWithoutLibraryFallsThrough) {
    addRuntime("C:\\Java\\empty\\", {"bin\\java.dll"});
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    launcher.configuredJrePath = "C:\\Java\\empty";
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ(6, launcher.runtimeVersion.components[1]);
}

TEST(FindRuntime, LocalRuntime) {
    const struct {
        std::vector<const char*> files;
        const char* library;
    } cases[] = {
        {{"C:\\App\\bin\\java.dll", "C:\\App\\bin\\client\\jvm.dll"},
         "C:\\App\\bin\\client\\jvm.dll"},
        {{"C:\\App\\jre\\bin\\java.dll", "C:\\App\\jre\\bin\\server\\jvm.dll"},
         "C:\\App\\jre\\bin\\server\\jvm.dll"},
        // A jre folder with java.dll but no runtime library: nothing local, the registry follows.
        {{"C:\\App\\jre\\bin\\java.dll"}, "C:\\Java\\reg\\bin\\client\\jvm.dll"},
        // A library right in the application folder is found even without java.dll.
        {{"C:\\App\\bin\\client\\jvm.dll"}, "C:\\App\\bin\\client\\jvm.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        fake::reset();
        for (const char* file : c.files) fake::addFile(file);
        fake::registerRuntime(kJreKey, "1.8", "C:\\Java\\reg");
        addRuntime("C:\\Java\\reg\\", {"bin\\client\\jvm.dll"});
        Launcher launcher;
        configure(launcher);
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ(c.library, launcher.jvmLibraryPath);
    }
}

TEST(FindRuntime, NeverLoadsALibraryPlantedInTheCurrentFolder) {
    fake::system().currentDirectory = "C:\\Downloads";
    addRuntime("", {"bin\\client\\jvm.dll"});  // relative: the current folder
    addRuntime("C:\\Downloads\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    EXPECT_FALSE(findRuntime(launcher));
    EXPECT_EQ("", launcher.jvmLibraryPath);
    for (const std::string& path : fake::system().searchedPaths) {
        EXPECT_TRUE(path.rfind("C:\\App\\", 0) == 0) << path;
    }
}

TEST(FindRuntime, UnknownModulePathIsReportedAndTheRegistryStillRuns) {
    fake::system().modulePath.reset();
    fake::system().moduleError = 5;
    fake::registerRuntime(kJreKey, "1.8", "C:\\Java\\reg");
    addRuntime("C:\\Java\\reg\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\reg\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ(
        std::vector<std::string>{"Windows exception: failed to get the module path (errno = 5).\n"},
        fake::system().errorBoxes);
}

TEST(RegisteredRuntimes, NewestOfTwoRegistrationsOfOneHome) {
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    fake::registerRuntime(kJreKey, "1.6.0_10", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    ASSERT_EQ(2u, candidates.size());
    sortCandidates(launcher, candidates);
    EXPECT_EQ("1.6.0.10", JavaVersion::toText(chooseCandidate(launcher, candidates).version));
}

TEST(RegisteredRuntimes, FavorJdkOverANewerJreWithTheJdksRuntimeFolder) {
    fake::registerRuntime(kJdkKey, "1.5", "C:\\Java\\jdk5");
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jdk5\\jre\\", {"bin\\client\\jvm.dll"});
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher, "favor_JDK");
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jdk5\\jre\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);

    Launcher plain;
    configure(plain);  // both kinds wanted and preferred: the newer one wins
    EXPECT_TRUE(findRuntime(plain));
    EXPECT_EQ("C:\\Java\\jre6\\bin\\client\\jvm.dll", plain.jvmLibraryPath);
}

TEST(RegisteredRuntimes, WhichKeysAreOpened) {
    const struct {
        const char* source;
        const char* provider;
        std::vector<std::string> opened;
    } cases[] = {
        {"", "", {kJdkKey, kJreKey}},
        {"only_JRE", "", {kJreKey}},
        {"only_JDK", "", {kJdkKey}},
        {"JDK", "", {}},
        {"", "jrockit", {kJrockitJreKey, kJrockitJdkKey}},
        {"", "ibm", {kIbmKey}},
        {"only_JRE", "any", {kJreKey, kJrockitJreKey, kIbmKey}},
        {"", "FAVOR_IBM", {kJdkKey, kJreKey, kJrockitJreKey, kJrockitJdkKey, kIbmKey}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + "/" + c.provider);
        fake::reset();
        Launcher launcher;
        configure(launcher, c.source, c.provider);
        collectCandidates(launcher);
        std::vector<std::string> expected;
        for (const std::string& key : c.opened) expected.push_back(key.substr(0, key.size() - 1));
        // The classic keys come first; today's registrations follow only when they give nothing.
        std::vector<std::string> classic;
        for (const std::string& key : fake::registry().opened) {
            for (const std::string& k : {kJdkKey, kJreKey, kJrockitJreKey, kJrockitJdkKey, kIbmKey}) {
                if (key == k.substr(0, k.size() - 1)) classic.push_back(key);
            }
        }
        EXPECT_EQ(expected, classic);
        ASSERT_LE(expected.size(), fake::registry().opened.size());
        EXPECT_EQ(expected, std::vector<std::string>(fake::registry().opened.begin(),
                                                     fake::registry().opened.begin() + expected.size()));
    }
}

TEST(RegisteredRuntimes, OutOfRangeSubkeysAreNeverOpened) {
    for (const char* name : {"1.4.2_19", "1.5", "1.6.0_10", "1.7"}) {
        fake::registerRuntime(kJreKey, name, std::string("C:\\Java\\") + name);
        addRuntime(std::string("C:\\Java\\") + name + "\\", {"bin\\client\\jvm.dll"});
    }
    Launcher launcher;
    configure(launcher, "only_JRE");
    launcher.minimumVersion = JavaVersion::parsed("1.5", 0);
    launcher.maximumVersion = JavaVersion::parsed("1.6", 65535);
    const std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    ASSERT_EQ(2u, candidates.size());
    EXPECT_TRUE(wasOpened(kJreKey + "1.5"));
    EXPECT_TRUE(wasOpened(kJreKey + "1.6.0_10"));
    EXPECT_FALSE(wasOpened(kJreKey + "1.4.2_19"));
    EXPECT_FALSE(wasOpened(kJreKey + "1.7"));
}

TEST(RegisteredRuntimes, RegistrationsThatDoNotQualify) {
    fake::registerRuntime(kJreKey, "1.6", "");                 // empty JavaHome
    fake::registerRuntime(kJreKey, "1.7", "C:\\Java\\nolib");  // no runtime library
    fake::registry().keys["HKLM\\Software\\JavaSoft\\Java Runtime Environment"].subkeys.push_back("1.8");
    addRuntime("C:\\Java\\nolib\\", {"bin\\java.dll"});
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(collectCandidates(launcher).empty());
    EXPECT_FALSE(findRuntime(launcher));
}

TEST(RegisteredRuntimes, ServerOnlyRefusesAClientOnlyRuntime) {
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    launcher.jvmType = JvmType::ServerOnly;
    EXPECT_FALSE(findRuntime(launcher));
}

TEST(RegisteredRuntimes, FavorServerRanksAJdkServerAboveANewerJre) {
    fake::registerRuntime(kJdkKey, "1.5", "C:\\Java\\jdk5");
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jdk5\\jre\\", {"bin\\server\\jvm.dll"});
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll", "bin\\server\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    launcher.jvmType = JvmType::ServerFirst;
    std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    ASSERT_EQ(2u, candidates.size());
    EXPECT_TRUE(candidates[0].isServer);
    EXPECT_FALSE(candidates[1].isServer);  // the JavaSoft JRE is probed client first
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jdk5\\jre\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);

    // Once chosen, the JavaSoft JRE is looked up server first.
    fake::reset();
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jre6");
    addRuntime("C:\\Java\\jre6\\", {"bin\\client\\jvm.dll", "bin\\server\\jvm.dll"});
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jre6\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);
}

TEST(RegisteredRuntimes, PreferredListOutranksTheSort) {
    fake::registerRuntime(kJreKey, "1.6.0_10", "C:\\Java\\jre6");
    fake::registerRuntime(kJreKey, "1.5.0_22", "C:\\Java\\jre5");
    fake::registerRuntime(kJreKey, "1.5.0_11", "C:\\Java\\jre5b");
    for (const char* home : {"C:\\Java\\jre6\\", "C:\\Java\\jre5\\", "C:\\Java\\jre5b\\"}) {
        addRuntime(home, {"bin\\client\\jvm.dll"});
    }
    const struct {
        const char* preferred;
        const char* chosen;
    } cases[] = {
        {"1.5;1.6", "1.5.0.22"}, {"1.6;1.5", "1.6.0.10"}, {"1.4;1.5.0_11", "1.5.0.11"},
        {";1.4", "1.6.0.10"},    {"", "1.6.0.10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preferred);
        Launcher launcher;
        configure(launcher);
        launcher.preferredVersions = splitList(c.preferred);
        std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
        sortCandidates(launcher, candidates);
        EXPECT_EQ(c.chosen, JavaVersion::toText(chooseCandidate(launcher, candidates).version));
    }
}

TEST(RegisteredRuntimes, TiesKeepScanOrder) {
    fake::registerRuntime(kJdkKey, "1.6", "C:\\Java\\jdk");
    fake::registerRuntime(kJreKey, "1.6", "C:\\Java\\jreA");
    fake::registerRuntime(kJreKey, "1.6.0", "C:\\Java\\jreB");
    addRuntime("C:\\Java\\jdk\\jre\\", {"bin\\client\\jvm.dll"});
    addRuntime("C:\\Java\\jreA\\", {"bin\\client\\jvm.dll"});
    addRuntime("C:\\Java\\jreB\\", {"bin\\client\\jvm.dll"});
    Launcher launcher;
    configure(launcher);
    std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    sortCandidates(launcher, candidates);
    ASSERT_EQ(3u, candidates.size());
    EXPECT_EQ("C:\\Java\\jdk\\jre\\", candidates[0].home);
    EXPECT_EQ("C:\\Java\\jreA\\", candidates[1].home);
    EXPECT_EQ("C:\\Java\\jreB\\", candidates[2].home);
}

TEST(RegisteredRuntimes, OnlyKindsAreNeverPreferred) {
    fake::registerRuntime(kJdkKey, "1.5", "C:\\Java\\jdk5");
    addRuntime("C:\\Java\\jdk5\\jre\\", {"bin\\client\\jvm.dll"});
    fake::registerRuntime(kIbmKey, "1.6", "C:\\Java\\ibm6");
    addRuntime("C:\\Java\\ibm6\\", {"bin\\classic\\jvm.dll"});
    Launcher anyVendor;
    configure(anyVendor, "", "any");
    const std::vector<RuntimeCandidate> candidates = collectCandidates(anyVendor);
    ASSERT_EQ(2u, candidates.size());
    EXPECT_FALSE(candidates[0].isPreferred);
    EXPECT_FALSE(candidates[1].isPreferred);

    Launcher favourIbm;
    configure(favourIbm, "", "favor_ibm");
    EXPECT_TRUE(findRuntime(favourIbm));
    EXPECT_EQ("C:\\Java\\ibm6\\bin\\classic\\jvm.dll", favourIbm.jvmLibraryPath);
}

TEST(InstalledRuntimes, PosixRanksTheRuntimeFolders) {
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/opt/app/app");
    addPosixRuntime("/usr/lib/jvm/jdk17", "17.0.15", true);
    addPosixRuntime("/usr/lib/jvm/jdk25", "25.0.1", true);
    addPosixRuntime("/usr/lib/jvm/jre21", "21.0.2", false);
    addPosixRuntime("/usr/lib/jvm/broken", "11", true, nullptr);  // no runtime library
    const struct {
        const char* source;
        const char* minimum;
        const char* maximum;
        const char* preferred;
        const char* library;
    } cases[] = {
        {"", "any", "any", "", "/usr/lib/jvm/jdk25/lib/server/libjvm.so"},
        {"", "any", "21", "", "/usr/lib/jvm/jre21/lib/server/libjvm.so"},
        {"", "any", "17", "", "/usr/lib/jvm/jdk17/lib/server/libjvm.so"},
        {"", "any", "any", "17", "/usr/lib/jvm/jdk17/lib/server/libjvm.so"},
        {"favor_JRE", "any", "any", "", "/usr/lib/jvm/jre21/lib/server/libjvm.so"},
        {"only_JDK", "18", "any", "21", "/usr/lib/jvm/jdk25/lib/server/libjvm.so"},
        {"", "26", "any", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.minimum + ".." + c.maximum + " " +
                     c.preferred);
        Launcher launcher;
        configure(launcher, c.source);
        launcher.minimumVersion = c.minimum == std::string("any")
                                      ? JavaVersion::lowBound()
                                      : JavaVersion::parsed(c.minimum, 0);
        launcher.maximumVersion = c.maximum == std::string("any")
                                      ? JavaVersion::highBound()
                                      : JavaVersion::parsed(c.maximum, 65535);
        launcher.preferredVersions = splitList(c.preferred);
        EXPECT_EQ(*c.library != '\0', findRuntime(launcher));
        EXPECT_EQ(c.library, launcher.jvmLibraryPath);
    }
}

TEST(InstalledRuntimes, PosixLocalRuntimeBesideTheApplication) {
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/opt/app/app");
    fake::addFile("/opt/app/jre/lib/libjava.so");
    fake::addFile("/opt/app/jre/lib/server/libjvm.so");
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("/opt/app/jre/lib/server/libjvm.so", launcher.jvmLibraryPath);
}

TEST(PublishRuntimeEnvironment, HomeIsThreePartsUp) {
    const struct {
        const char* library;
        const char* home;
    } cases[] = {
        {"C:\\Java\\jre6\\bin\\client\\jvm.dll", "C:\\Java\\jre6"},
        {"bin\\client\\jvm.dll", "bin"},
        {"client\\jvm.dll", "client"},
        {"jvm.dll", "jvm.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        Launcher launcher;
        launcher.jvmLibraryPath = c.library;
        publishRuntimeEnvironment(launcher);
        EXPECT_EQ(c.library, fake::system().environment["QN_JVM_PATH"]);
        EXPECT_EQ(c.home, fake::system().environment["QN_JVM_HOME"]);
    }
}

}  // namespace
}  // namespace qn
