// Today's registrations, the environment's runtimes, the Linux runtime folders, library bitness
// and what the trace says about every candidate.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "fake_registry.h"
#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "runtime/library_image.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_search.h"
#include "trace/trace.h"
#include "vm/main_invocation.h"

namespace qn {
namespace {

using platform::RegistryRoot;

std::string peImage(std::uint16_t machine, std::uint16_t magic) {
    std::string image(0x200, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3c] = '\x80';
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    image[0x84] = static_cast<char>(machine & 0xff);
    image[0x85] = static_cast<char>(machine >> 8);
    image[0x98] = static_cast<char>(magic & 0xff);
    image[0x99] = static_cast<char>(magic >> 8);
    return image;
}
const std::string pe64 = peImage(0x8664, 0x20b);
const std::string pe32 = peImage(0x14c, 0x10b);

std::string elfImage(char elfClass, std::uint16_t machine) {
    std::string image(64, '\0');
    image.replace(0, 4, "\x7f" "ELF");
    image[4] = elfClass;
    image[5] = 1;  // little-endian
    image[18] = static_cast<char>(machine & 0xff);
    image[19] = static_cast<char>(machine >> 8);
    return image;
}

void configure(Launcher& launcher, const std::string& jvmSource = "", const std::string& provider = "") {
    launcher.maximumVersion = JavaVersion::highBound();
    applyJvmSource(launcher, jvmSource);
    applyVmProvider(launcher, provider);
}

void addHome(const std::string& home, const std::string& library = "bin\\server\\jvm.dll",
             const std::string& content = "") {
    fake::addFile(home + "\\" + library, content);
}

void addRelease(const std::string& home, const std::string& version) {
    fake::addFile(home + "\\release", "JAVA_VERSION=\"" + version + "\"\r\n");
}

TEST(ImageMachine, HeadersOfBothFormats) {
    ASSERT_TRUE(imageMachine(pe64));
    EXPECT_EQ(64, imageMachine(pe64)->bits);
    EXPECT_EQ(0x8664, imageMachine(pe64)->machine);
    EXPECT_EQ(32, imageMachine(pe32)->bits);
    EXPECT_EQ(ImageFormat::Elf, imageMachine(elfImage(2, 62))->format);
    EXPECT_EQ(32, imageMachine(elfImage(1, 3))->bits);
    // Not a readable image: judged by existence alone.
    EXPECT_FALSE(imageMachine(""));
    EXPECT_FALSE(imageMachine("MZ"));
    EXPECT_FALSE(imageMachine(pe64.substr(0, 0x90)));     // cut inside the header
    EXPECT_FALSE(imageMachine(peImage(0x8664, 0x999)));  // no optional-header magic
    std::string farHeader = pe64;
    farHeader[0x3c] = '\xff';
    farHeader[0x3d] = '\xff';  // beyond what was read
    EXPECT_FALSE(imageMachine(farHeader));
    EXPECT_FALSE(imageMachine(std::string("\x7f" "ELF\x05", 5) + std::string(40, '\0')));
}

// One row per family of today's registrations: its key, the path below the version, the value. A
// JDK of Java 8 keeps its runtime in "jre\".
TEST(TodaysRegistrations, EveryFamilyFromMachineAndUser) {
    const struct {
        const char* key;
        const char* subkey;
        const char* build;  // "" when the value sits on the version subkey
        const char* value;
        const char* provider;
    } cases[] = {
        {"Software\\JavaSoft\\JDK", "17.0.2", "", "JavaHome", ""},
        {"Software\\JavaSoft\\JRE", "9.0.4", "", "JavaHome", ""},
        {"Software\\Eclipse Adoptium\\JDK", "21.0.1.12", "hotspot\\MSI", "Path", ""},
        {"Software\\Eclipse Adoptium\\JDK", "8.0.392.8", "hotspot\\MSI", "Path", ""},
        {"Software\\Eclipse Adoptium\\JRE", "17.0.9.9", "hotspot\\MSI", "Path", ""},
        {"Software\\Eclipse Foundation\\JDK", "17.0.1.12", "hotspot\\MSI", "Path", ""},
        {"Software\\Eclipse Foundation\\JRE", "17.0.1.12", "hotspot\\MSI", "Path", ""},
        {"Software\\AdoptOpenJDK\\JDK", "11.0.11.9", "hotspot\\MSI", "Path", ""},
        {"Software\\AdoptOpenJDK\\JRE", "11.0.11.9", "hotspot\\MSI", "Path", ""},
        {"Software\\AdoptOpenJDK\\JDK", "11.0.11.9", "openj9\\MSI", "Path", "ibm"},
        {"Software\\Microsoft\\JDK", "17.0.9.8", "hotspot\\MSI", "Path", ""},
        {"Software\\Semeru\\JDK", "17.0.8.7", "openj9\\MSI", "Path", "ibm"},
        {"Software\\Semeru\\JRE", "17.0.8.7", "openj9\\MSI", "Path", "ibm"},
        {"Software\\SapMachine\\JDK", "21.0.1", "", "JavaHome", ""},
        {"Software\\Azul Systems\\Zulu", "zulu-17", "", "InstallationPath", ""},
        {"Software\\BellSoft\\Liberica", "Liberica JDK 21", "", "InstallationPath", ""},
    };
    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(root == RegistryRoot::CurrentUser ? "HKCU\\" : "HKLM\\") + c.key + " " + c.build);
            fake::reset();
            std::string path = std::string(c.key) + "\\" + c.subkey;
            if (*c.build) path += std::string("\\") + c.build;
            fake::setValue(root, path, c.value, "C:\\Program Files\\Java\\rt");  // no separator at the end
            const std::string runtime = std::string("C:\\Program Files\\Java\\rt") + (c.subkey[0] == '8' ? "\\jre" : "");
            addHome(runtime);
            Launcher launcher;
            configure(launcher, "", c.provider);
            EXPECT_TRUE(findRuntime(launcher));
            EXPECT_EQ(runtime + "\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);

            // The same registration under a vendor the settings do not search.
            Launcher otherVendor;
            configure(otherVendor, "", *c.provider ? "" : "ibm");
            EXPECT_FALSE(findRuntime(otherVendor));
        }
    }
}

TEST(TodaysRegistrations, ClassicKeysWinWheneverTheyGiveACandidate) {
    fake::registerRuntime("Software\\JavaSoft\\Java Runtime Environment\\", "1.8.0_392", "C:\\Java\\jre8");
    addHome("C:\\Java\\jre8", "bin\\client\\jvm.dll");
    fake::setValue(RegistryRoot::LocalMachine, "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI", "Path",
                   "C:\\Java\\jdk21");
    addHome("C:\\Java\\jdk21");
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jre8\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    for (const std::string& key : fake::registry().opened) EXPECT_EQ(std::string::npos, key.find("Adoptium"));

    // A classic registration without a runtime library gives no candidate: today's keys follow.
    fake::system().files.erase("C:\\Java\\jre8\\bin\\client\\jvm.dll");
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jdk21\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ(21, launcher.runtimeVersion.components[0]);
}

TEST(TodaysRegistrations, RangeKindAndRankApply) {
    const std::string adoptium = "Software\\Eclipse Adoptium\\";
    fake::setValue(RegistryRoot::LocalMachine, adoptium + "JDK\\17.0.9.9\\hotspot\\MSI", "Path", "C:\\J\\jdk17");
    fake::setValue(RegistryRoot::LocalMachine, adoptium + "JDK\\21.0.1.12\\hotspot\\MSI", "Path", "C:\\J\\jdk21");
    fake::setValue(RegistryRoot::CurrentUser, adoptium + "JRE\\11.0.21.9\\hotspot\\MSI", "Path", "C:\\J\\jre11");
    fake::setValue(RegistryRoot::LocalMachine, "Software\\JavaSoft\\JRE\\1.8.0_392", "JavaHome", "C:\\J\\jre8");
    for (const char* home : {"C:\\J\\jdk17", "C:\\J\\jdk21", "C:\\J\\jre11", "C:\\J\\jre8"}) addHome(home);
    const struct {
        const char* source;
        const char* minimum;
        const char* maximum;
        const char* preferred;
        const char* home;  // nullptr: nothing qualifies
    } cases[] = {
        {"", "", "", "", "C:\\J\\jdk21"},
        {"", "", "17", "", "C:\\J\\jdk17"},
        {"", "", "1.8", "", "C:\\J\\jre8"},
        {"", "8", "8", "", "C:\\J\\jre8"},
        {"only_JRE", "", "", "", "C:\\J\\jre11"},
        {"only_JRE", "12", "", "", nullptr},
        {"favor_JRE", "", "", "", "C:\\J\\jre11"},
        {"", "", "", "8", "C:\\J\\jre8"},
        {"", "22", "", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.minimum + ".." + c.maximum + " " + c.preferred);
        Launcher launcher;
        configure(launcher, c.source);
        if (*c.minimum) launcher.minimumVersion = JavaVersion::parsed(c.minimum, 0);
        if (*c.maximum) launcher.maximumVersion = JavaVersion::parsed(c.maximum, 65535);
        launcher.preferredVersions = splitList(c.preferred);
        EXPECT_EQ(c.home != nullptr, findRuntime(launcher));
        EXPECT_EQ(c.home ? std::string(c.home) + "\\bin\\server\\jvm.dll" : "", launcher.jvmLibraryPath);
    }
}

TEST(TodaysRegistrations, AJdkOfToday_UnderTheClassicKey) {
    fake::registerRuntime("Software\\JavaSoft\\Java Development Kit\\", "17.0.2", "C:\\Java\\jdk-17");
    addHome("C:\\Java\\jdk-17");
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jdk-17\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);

    // An older JDK keeps its runtime folder first.
    fake::reset();
    fake::registerRuntime("Software\\JavaSoft\\Java Development Kit\\", "1.8.0_392", "C:\\Java\\jdk8");
    addHome("C:\\Java\\jdk8");
    addHome("C:\\Java\\jdk8\\jre");
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\jdk8\\jre\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);
}

TEST(TodaysRegistrations, ZuluAndLibericaTakeTheVersionOfTheirReleaseFile) {
    fake::setValue(RegistryRoot::LocalMachine, "Software\\Azul Systems\\Zulu\\zulu-17", "InstallationPath",
                   "C:\\Zulu\\zulu-17\\");
    addHome("C:\\Zulu\\zulu-17");
    addRelease("C:\\Zulu\\zulu-17", "17.0.9");
    Launcher launcher;
    configure(launcher);
    launcher.minimumVersion = JavaVersion::parsed("17.0.5", 0);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("17.0.9", JavaVersion::toText(launcher.runtimeVersion));

    // The kind comes from the home: no compiler makes it a JRE.
    Launcher jdkOnly;
    configure(jdkOnly, "only_JDK");
    EXPECT_FALSE(findRuntime(jdkOnly));
    fake::addFile("C:\\Zulu\\zulu-17\\bin\\javac.exe");
    EXPECT_TRUE(findRuntime(jdkOnly));
}

TEST(EnvironmentRuntimes, JavaHomeThenPathAfterTheRegistry) {
    fake::system().environment["JAVA_HOME"] = "C:\\jdks\\temurin-17";
    addHome("C:\\jdks\\temurin-17");
    addRelease("C:\\jdks\\temurin-17", "17.0.9");
    fake::system().environment["Path"] = "C:\\Windows;;C:\\tools\\jdk21\\bin;C:\\other\\bin";
    fake::addFile("C:\\tools\\jdk21\\bin\\java.exe");
    addHome("C:\\tools\\jdk21");
    addRelease("C:\\tools\\jdk21", "21.0.1");
    fake::addFile("C:\\other\\bin\\java.exe");  // not the first
    addHome("C:\\other", "bin\\server\\jvm.dll");
    addRelease("C:\\other", "25");

    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\tools\\jdk21\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ(21, launcher.runtimeVersion.components[0]);

    Launcher upTo17;
    configure(upTo17);
    upTo17.maximumVersion = JavaVersion::parsed("17", 65535);
    EXPECT_TRUE(findRuntime(upTo17));
    EXPECT_EQ("C:\\jdks\\temurin-17\\bin\\server\\jvm.dll", upTo17.jvmLibraryPath);

    // A registration takes precedence over both.
    fake::setValue(RegistryRoot::CurrentUser, "Software\\Semeru\\JRE\\11.0.2\\openj9\\MSI", "Path", "C:\\Semeru");
    addHome("C:\\Semeru");
    Launcher ibm;
    configure(ibm, "", "any");
    EXPECT_TRUE(findRuntime(ibm));
    EXPECT_EQ("C:\\Semeru\\bin\\server\\jvm.dll", ibm.jvmLibraryPath);
}

TEST(Bitness, ALibraryOfTheOtherMachineNeverQualifies) {
    addHome("C:\\Java\\x86", "bin\\client\\jvm.dll", pe32);
    addHome("C:\\Java\\x64", "bin\\client\\jvm.dll", pe64);
    addHome("C:\\Java\\text", "bin\\client\\jvm.dll", "not an image");
    addHome("C:\\Java\\mixed", "bin\\client\\jvm.dll", pe32);
    addHome("C:\\Java\\mixed", "bin\\server\\jvm.dll", pe64);
    EXPECT_EQ("", findJvmLibrary("C:\\Java\\x86\\", JvmType::ClientFirst));
    EXPECT_EQ("C:\\Java\\x64\\bin\\client\\jvm.dll", findJvmLibrary("C:\\Java\\x64\\", JvmType::ClientFirst));
    EXPECT_EQ("C:\\Java\\text\\bin\\client\\jvm.dll", findJvmLibrary("C:\\Java\\text\\", JvmType::ClientFirst));
    EXPECT_EQ("C:\\Java\\mixed\\bin\\server\\jvm.dll", findJvmLibrary("C:\\Java\\mixed\\", JvmType::ClientFirst));
    const JvmLibraryLookup lookup = lookupJvmLibrary("C:\\Java\\x86\\", JvmType::ClientFirst);
    EXPECT_EQ("C:\\Java\\x86\\bin\\client\\jvm.dll", lookup.otherMachinePath);
    EXPECT_EQ(32, lookup.otherMachineBits);

    // The 32-bit build loads what the 64-bit one passes over.
    fake::system().ownMachine = {ImageFormat::Pe, 0x14c, 32};
    EXPECT_EQ("C:\\Java\\x86\\bin\\client\\jvm.dll", findJvmLibrary("C:\\Java\\x86\\", JvmType::ClientFirst));
    EXPECT_EQ("", findJvmLibrary("C:\\Java\\x64\\", JvmType::ClientFirst));
}

TEST(Bitness, ConfiguredAndRegisteredRuntimesOfTheOtherMachineArePassedOver) {
    addHome("C:\\Java\\x86", "bin\\client\\jvm.dll", pe32);
    addHome("C:\\Java\\x64", "bin\\client\\jvm.dll", pe64);
    fake::registerRuntime("Software\\JavaSoft\\Java Runtime Environment\\", "1.8.0_401", "C:\\Java\\x86");
    fake::registerRuntime("Software\\JavaSoft\\Java Runtime Environment\\", "1.8.0_392", "C:\\Java\\x64");
    Launcher launcher;
    configure(launcher);
    launcher.configuredJrePath = "C:\\Java\\x86";  // as a remembered choice would be
    EXPECT_TRUE(findRuntime(launcher));
    EXPECT_EQ("C:\\Java\\x64\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
    EXPECT_EQ("1.8.0.392", JavaVersion::toText(launcher.runtimeVersion));
}

TEST(Bitness, LinuxLibrariesOfAnotherClassOrMachine) {
    fake::system().conventions = &posixConventions();
    fake::system().ownMachine = {ImageFormat::Elf, 62, 64};
    fake::addFile("/j/32/lib/server/libjvm.so", elfImage(1, 3));
    fake::addFile("/j/arm/lib/server/libjvm.so", elfImage(2, 183));
    fake::addFile("/j/64/lib/server/libjvm.so", elfImage(2, 62));
    EXPECT_EQ("", findJvmLibrary("/j/32/", JvmType::ClientFirst));
    EXPECT_EQ("", findJvmLibrary("/j/arm/", JvmType::ClientFirst));
    EXPECT_EQ("/j/64/lib/server/libjvm.so", findJvmLibrary("/j/64/", JvmType::ClientFirst));
}

TEST(MissingRuntimeBitness, AFolderOfTheOtherMachineIsRefusedWithItsReason) {
    fake::addFile("C:\\App\\app.ini", "[Java Runtime Environment]\r\nMain Class=a.B\r\n");
    addHome("C:\\Java\\x86", "bin\\client\\jvm.dll", pe32);
    addHome("C:\\Java\\x64", "bin\\client\\jvm.dll", pe64);
    fake::system().runtimeDialogScript = {"browse C:\\Java\\x86", "ok", "browse C:\\Java\\x64", "ok"};
    Launcher launcher;
    configure(launcher);
    EXPECT_TRUE(resolveMissingRuntime(launcher));
    EXPECT_EQ((std::vector<std::string>{
                  "C:\\Java\\x86\\ -> none (This is a 32-bit Java runtime; a 64-bit one is needed.)",
                  "ok ignored", "C:\\Java\\x64\\ -> C:\\Java\\x64\\bin\\client\\jvm.dll"}),
              fake::system().runtimeDialogEvents);
    EXPECT_EQ("C:\\Java\\x64\\bin\\client\\jvm.dll", launcher.jvmLibraryPath);
}

TEST(LinuxRuntimeFolders, EveryPlaceIsSearchedAndOneRuntimeCountsOnce) {
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/srv/app/app");
    fake::system().environment["HOME"] = "/home/u";
    fake::system().environment["PATH"] = "/usr/local/bin:/usr/bin";
    const auto addRuntime = [](const std::string& home, const std::string& version) {
        fake::addFile(home + "/release", "JAVA_VERSION=\"" + version + "\"\n");
        fake::addFile(home + "/lib/server/libjvm.so");
    };
    const struct {
        const char* home;
        const char* version;
    } places[] = {
        {"/home/u/.sdkman/candidates/java/21.0.1-tem", "21.0.1"},
        {"/home/u/.jdks/corretto-22", "22.0.2"},
        {"/usr/java/jdk-23", "23.0.1"},
        {"/opt/jdk-24", "24"},
        {"/srv/jdk-26", "26"},  // reached through the java on the search path
    };
    fake::addFile("/usr/bin/java");
    fake::system().links["/usr/bin/java"] = "/srv/jdk-26/bin/java";
    fake::addFile("/opt/tool/readme");  // no release file: not a runtime
    for (const auto& place : places) addRuntime(place.home, place.version);
    fake::addDirectory("/home/u/.sdkman/candidates/java/current");
    fake::system().links["/home/u/.sdkman/candidates/java/current"] = "/home/u/.sdkman/candidates/java/21.0.1-tem";
    for (const auto& place : places) {
        SCOPED_TRACE(place.home);
        Launcher launcher;
        configure(launcher);
        launcher.preferredVersions = {place.version};
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ(std::string(place.home) + "/lib/server/libjvm.so", launcher.jvmLibraryPath);
    }
    Launcher launcher;
    configure(launcher);
    EXPECT_EQ(5u, collectCandidates(launcher).size());
}

TEST(RuntimeTrace, EveryCandidateWithItsReason) {
    std::vector<std::string> lines;
    trace::captureForTests(&lines);
    const std::string jre = "Software\\JavaSoft\\Java Runtime Environment\\";
    fake::registerRuntime(jre, "1.4.2", "C:\\Java\\old");      // out of range
    fake::registerRuntime(jre, "1.6.0_10", "C:\\Java\\empty");  // no flavour
    fake::registerRuntime(jre, "1.7.0_80", "C:\\Java\\x86");    // other bitness
    fake::registerRuntime(jre, "1.8.0_392", "C:\\Java\\jre8");  // chosen
    fake::registerRuntime(jre, "1.8.0_41", "C:\\Java\\jre8b");  // lower rank
    addHome("C:\\Java\\x86", "bin\\client\\jvm.dll", pe32);
    addHome("C:\\Java\\jre8", "bin\\client\\jvm.dll", pe64);
    addHome("C:\\Java\\jre8b", "bin\\client\\jvm.dll");
    Launcher launcher;
    configure(launcher, "only_JRE");
    launcher.minimumVersion = JavaVersion::parsed("1.5", 0);
    launcher.configuredJrePath = "C:\\Java\\empty";
    const bool found = findRuntime(launcher);
    trace::captureForTests(nullptr);
    ASSERT_TRUE(found);

    const auto has = [&](const std::string& start, const std::string& end) {
        for (const std::string& line : lines) {
            if (line.compare(0, start.size(), start) == 0 && line.size() >= end.size() &&
                line.compare(line.size() - end.size(), end.size(), end) == 0) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has("runtime: JRE Path C:\\Java\\empty\\", ": passed over: no flavour (looked for bin\\client\\jvm.dll, "
                                                          "bin\\classic\\jvm.dll, bin\\hotspot\\jvm.dll, "
                                                          "bin\\server\\jvm.dll, bin\\jrockit\\jvm.dll)"));
    EXPECT_TRUE(has("runtime: search the classic keys: HKLM\\" + jre +
                        " 5 subkeys; kind filtered: HKLM\\Software\\JavaSoft\\",
                    "; vendor filtered: HKLM\\Software\\JRockit\\Java Runtime Environment\\, "
                    "HKLM\\Software\\IBM\\Java2 Runtime Environment\\"));
    EXPECT_TRUE(has("runtime: candidate 1.4.2 JRE Oracle", ": passed over: out of range"));
    EXPECT_TRUE(has("runtime: candidate 1.6.0_10 JRE Oracle C:\\Java\\empty\\", "in C:\\Java\\empty\\)"));
    EXPECT_TRUE(has("runtime: candidate 1.7.0_80 JRE Oracle C:\\Java\\x86\\",
                    ": passed over: other bitness (32-bit C:\\Java\\x86\\bin\\client\\jvm.dll)"));
    EXPECT_TRUE(has("runtime: candidate 1.8.0_392 JRE Oracle C:\\Java\\jre8\\", ": chosen"));
    EXPECT_TRUE(has("runtime: candidate 1.8.0_41 JRE Oracle C:\\Java\\jre8b\\", ": passed over: lower rank"));
    EXPECT_TRUE(has("runtime: today's keys, JAVA_HOME and Path not searched: the classic keys gave 2 candidates", ""));
    EXPECT_TRUE(has("runtime: library C:\\Java\\jre8\\bin\\client\\jvm.dll", ""));
}

// JAVA_HOME and the search path as users and installers leave them: quoted, with "/", naming a
// JDK 8, which keeps its runtime in "jre\" and its release file in its own home.
TEST(EnvironmentRuntimes, QuotesSlashesAndAJdk8) {
    addHome("C:\\Java\\jdk8", "jre\\bin\\server\\jvm.dll");
    fake::addFile("C:\\Java\\jdk8\\bin\\java.exe");
    addRelease("C:\\Java\\jdk8", "1.8.0_392");
    for (const auto& [variable, value] : {std::pair<const char*, const char*>{"JAVA_HOME", "\"C:/Java/jdk8\""},
                                          {"Path", "C:\\Windows;\"C:/Java/jdk8/bin\""}}) {
        SCOPED_TRACE(variable);
        fake::system().environment = {{variable, value}};
        Launcher launcher;
        configure(launcher);
        EXPECT_TRUE(findRuntime(launcher));
        EXPECT_EQ("C:\\Java\\jdk8\\jre\\bin\\server\\jvm.dll", launcher.jvmLibraryPath);
        EXPECT_EQ("1.8.0.392", JavaVersion::toText(launcher.runtimeVersion));
    }
}

// Only an IBM runtime of Java 8 or older keeps the Java main thread after main, and only where
// "VM Provider" admits IBM runtimes at all.
TEST(LegacyIbmRuntimes, OnlyTheyKeepTheMainThread) {
    const char* const ibm8 = "IMPLEMENTOR=\"IBM Corporation\"\nJAVA_VERSION=\"1.8.0\"\n";
    const struct {
        const char* where;  // a registration with its value, or (no value) the folder of "JRE Path"
        const char* value;
        const char* release;
        const char* provider;
        bool keeps;
    } cases[] = {
        {"Software\\IBM\\Java2 Runtime Environment\\1.6.0", "JavaHome", nullptr, "ibm", true},
        {"Software\\AdoptOpenJDK\\JRE\\8.0.282.08\\openj9\\MSI", "Path", nullptr, "any", true},
        {"Software\\Semeru\\JRE\\17.0.8.7\\openj9\\MSI", "Path", nullptr, "favor_ibm", false},
        {"Software\\JavaSoft\\Java Runtime Environment\\1.8.0_392", "JavaHome", nullptr, "any", false},
        {"C:\\IBM\\java8", nullptr, ibm8, "favor_ibm", true},
        {"C:\\IBM\\java8", nullptr, ibm8, "", false},
        {"C:\\Other\\java8", nullptr, "IMPLEMENTOR=\"Oracle Corporation\"\nJAVA_VERSION=\"1.8.0_392\"\n", "any", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.where) + " " + c.provider);
        fake::reset();
        const std::string home = c.value ? "C:\\Java\\rt" : c.where;
        addHome(home, "bin\\client\\jvm.dll");
        if (c.release) fake::addFile(home + "\\release", c.release);
        if (c.value) fake::setValue(RegistryRoot::LocalMachine, c.where, c.value, home);
        Launcher launcher;
        configure(launcher, "", c.provider);
        if (!c.value) launcher.configuredJrePath = home;
        ASSERT_TRUE(findRuntime(launcher));
        EXPECT_EQ(c.keeps, keepsMainThread(launcher));
    }
}

}  // namespace
}  // namespace qn
