#include "vm/startup_cache.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "vm/vm_options.h"

namespace qn {
namespace {

using Strings = std::vector<std::string>;

const char* const kIni = "C:\\App\\app.ini";
const char* const kLibrary = "C:\\Java\\jre\\bin\\server\\jvm.dll";
const char* const kFolder = "C:\\Users\\u\\AppData\\Local\\Demo\\1.0";
const std::string kDynamicMagic("\xa8\xab\x0b\xf0", 4);
const std::string kStaticMagic("\xa2\xab\x0b\xf0", 4);

/// A Windows machine with one runtime of the given version and an application with one jar.
void setUpMachine(const std::string& javaVersion, const std::string& cacheValue = "yes",
                  const std::string& parameters = "") {
    fake::system().environment["LOCALAPPDATA"] = "C:\\Users\\u\\AppData\\Local";
    fake::addDirectory("C:\\Users\\u\\AppData\\Local");
    fake::addFile(kLibrary, "library");
    fake::addFile("C:\\Java\\jre\\release", "IMPLEMENTOR=\"Someone\"\nJAVA_VERSION=\"" + javaVersion + "\"\n");
    fake::addFile("C:\\App\\app.jar", "jar");
    fake::system().fileTimes["C:\\App\\app.jar"] = 1000;
    std::string ini = "[Class Path]\nClass Path=app.jar\n[Java Runtime Environment]\nVirtual Machine Parameters=" +
                      parameters + "\n";
    if (!cacheValue.empty()) ini += "Startup Cache=" + cacheValue + "\n";
    fake::addFile(kIni, ini);
}

Strings startOptions() {
    Launcher launcher;
    launcher.jvmLibraryPath = kLibrary;
    launcher.productName = "Demo";
    launcher.productCode = "1.0";
    EXPECT_TRUE(assembleVmOptions(launcher));
    return launcher.vmOptions;
}

/// The value of the first option that begins with `prefix`; empty when there is none.
std::string optionValue(const Strings& options, const std::string& prefix) {
    for (const std::string& option : options) {
        if (option.compare(0, prefix.size(), prefix) == 0) return option.substr(prefix.size());
    }
    return {};
}

Strings cacheFolderNames() {
    Strings names;
    for (const auto& file : fake::system().files) {
        if (file.first.compare(0, std::string(kFolder).size() + 1, std::string(kFolder) + "\\") == 0) {
            names.push_back(file.first.substr(std::string(kFolder).size() + 1));
        }
    }
    return names;
}

const Strings kPlainOptions{"-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command="};

TEST(StartupCache, MechanismByVersion) {
    const struct {
        const char* release;
        int feature;
        CacheMechanism mechanism;
    } cases[] = {
        {"JAVA_VERSION=\"1.8.0_392\"\n", 8, CacheMechanism::None},
        {"JAVA_VERSION=\"12.0.2\"\n", 12, CacheMechanism::None},
        {"JAVA_VERSION=\"13\"\n", 13, CacheMechanism::DynamicArchive},
        {"JAVA_VERSION=\"17.0.15\"\r\n", 17, CacheMechanism::DynamicArchive},
        {"JAVA_VERSION=\"18.0.2.1\"\n", 18, CacheMechanism::DynamicArchive},
        {"JAVA_VERSION=\"19\"\n", 19, CacheMechanism::AutomaticArchive},
        {"JAVA_VERSION=\"24.0.1\"\n", 24, CacheMechanism::AutomaticArchive},
        {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"25.0.3\"\nJAVA_RUNTIME_VERSION=\"25.0.3+9-LTS\"\n", 25,
         CacheMechanism::AheadOfTimeCache},
        {"JAVA_VERSION=\"26-ea\"\n", 26, CacheMechanism::AheadOfTimeCache},
        {"JAVA_VERSION_DATE=\"2025-04-15\"\n", 0, CacheMechanism::None},
        {"JAVA_VERSION=\"\"\n", 0, CacheMechanism::None},
        {"", 0, CacheMechanism::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        EXPECT_EQ(c.feature, featureVersionFromRelease(c.release));
        EXPECT_EQ(c.mechanism, cacheMechanismFor(featureVersionFromRelease(c.release)));
    }
}

TEST(StartupCache, EveryCheckedInputChangesTheKey) {
    CacheKeyInputs base;
    base.runtimeLibrary = "/jdk/lib/server/libjvm.so";
    base.library = platform::FileFacts{1000, 5, false};
    base.baseArchive = platform::FileFacts{2000, 6, false};
    base.releaseVersion = "17.0.15 17.0.15+6";
    base.classPath = {{"/app/a.jar", platform::FileFacts{10, 7, false}}, {"/app/b.jar", std::nullopt}};
    base.options = {"-Xmx512m", "-XX:+UseSerialGC"};
    const std::string key = cacheKey(base);
    ASSERT_EQ(16u, key.size());
    EXPECT_EQ(std::string::npos, key.find_first_not_of("0123456789abcdef"));
    EXPECT_EQ(key, cacheKey(base));

    const struct {
        const char* name;
        void (*change)(CacheKeyInputs&);
    } changes[] = {
        {"library path", [](CacheKeyInputs& in) { in.runtimeLibrary = "/jdk2/lib/server/libjvm.so"; }},
        {"library size", [](CacheKeyInputs& in) { in.library->size = 1001; }},
        {"library time", [](CacheKeyInputs& in) { in.library->modified = 9; }},
        {"library unreadable", [](CacheKeyInputs& in) { in.library.reset(); }},
        {"base archive gone", [](CacheKeyInputs& in) { in.baseArchive.reset(); }},
        {"version", [](CacheKeyInputs& in) { in.releaseVersion = "17.0.16 17.0.16+8"; }},
        {"jar rebuilt", [](CacheKeyInputs& in) { in.classPath[0].second->modified = 8; }},
        {"jar grown", [](CacheKeyInputs& in) { in.classPath[0].second->size = 11; }},
        {"missing jar appears", [](CacheKeyInputs& in) { in.classPath[1].second = platform::FileFacts{1, 1, false}; }},
        {"jar became a folder", [](CacheKeyInputs& in) { in.classPath[0].second->isFolder = true; }},
        {"entries swapped", [](CacheKeyInputs& in) { std::swap(in.classPath[0], in.classPath[1]); }},
        {"entry dropped", [](CacheKeyInputs& in) { in.classPath.pop_back(); }},
        {"option added", [](CacheKeyInputs& in) { in.options.push_back("-Xss1m"); }},
        {"options reordered", [](CacheKeyInputs& in) { std::swap(in.options[0], in.options[1]); }},
        // Field boundaries count: the same characters split differently are other inputs.
        {"split moved", [](CacheKeyInputs& in) { in.options = {"-Xmx512m-XX:+UseSerialGC"}; }},
        {"option turned entry", [](CacheKeyInputs& in) {
             in.options.pop_back();
             in.classPath.emplace_back("-XX:+UseSerialGC", std::nullopt);
         }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        CacheKeyInputs changed = base;
        c.change(changed);
        EXPECT_NE(key, cacheKey(changed));
    }
}

TEST(StartupCache, WhichOptionsDecideTheFitAndWhichManageSharing) {
    const struct {
        const char* option;
        bool decides;
        bool controls;
    } cases[] = {
        {"-Djava.class.path=a.jar", false, false},     {"-Dlog=C:\\Temp\\x.log", false, false},
        {"-Djava.library.path=native", false, false},  {"-Djdk.module.addmods=x", true, false},
        {"-Djava.system.class.loader=L", true, false}, {"-Xmx64g", true, false},
        {"-XX:+UseSerialGC", true, false},             {"-javaagent:a.jar", true, false},
        {"--add-modules=ALL-SYSTEM", true, false},     {"-Xshare:off", true, true},
        {"-XX:SharedArchiveFile=x.jsa", true, true},   {"-XX:ArchiveClassesAtExit=x", true, true},
        {"-XX:+AutoCreateSharedArchive", true, true},  {"-XX:AOTCache=x.aot", true, true},
        {"-XX:+AOTClassLinking", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        EXPECT_EQ(c.decides, optionDecidesArchiveFit(c.option));
        EXPECT_EQ(c.controls, optionControlsSharing(c.option));
    }
}

TEST(StartupCache, OffLeavesTheStartAsItWas) {
    for (const char* value : {"", "no", "true", "1", "yes please"}) {
        SCOPED_TRACE(value);
        fake::reset();
        setUpMachine("17.0.15", value);
        EXPECT_EQ(kPlainOptions, startOptions());
        EXPECT_FALSE(fake::system().directories.count("C:\\Users\\u\\AppData\\Local\\Demo"));
        finishStartupCache();
        EXPECT_TRUE(cacheFolderNames().empty());
    }
}

TEST(StartupCache, RefusedStartsAreUnchanged) {
    const struct {
        const char* name;
        const char* version;
        const char* parameters;
        void (*setUp)();
    } cases[] = {
        {"runtime too old", "11.0.2", "", [] {}},
        {"no release file", "17", "", [] { fake::system().files.erase("C:\\Java\\jre\\release"); }},
        {"sharing managed by the user", "17", "-Xshare:off", [] {}},
        {"no cache folder variable", "17", "", [] { fake::system().environment.erase("LOCALAPPDATA"); }},
        {"unwritable cache folder", "17", "",
         [] { fake::system().unwritableFolders.insert("C:\\Users\\u\\AppData\\Local"); }},
        {"unwritable product folder", "17", "",
         [] {
             fake::addDirectory(kFolder);
             fake::system().unwritableFolders.insert(kFolder);
         }},
        {"disk nearly full", "17", "", [] { fake::system().freeSpace = std::uint64_t{100} << 20; }},
        {"free space unknown", "17", "", [] { fake::system().freeSpace.reset(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        setUpMachine(c.version, "Yes", c.parameters);
        c.setUp();
        Strings expected = kPlainOptions;
        if (*c.parameters) expected.push_back(c.parameters);
        EXPECT_EQ(expected, startOptions());
        finishStartupCache();
        EXPECT_TRUE(cacheFolderNames().empty());
    }
}

TEST(StartupCache, DynamicArchiveIsWrittenOnceAndThenUsed) {
    setUpMachine("17.0.15", "YES");
    const Strings training = startOptions();
    const std::string written = optionValue(training, "-XX:ArchiveClassesAtExit=");
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(0u, written.find(std::string(kFolder) + "\\app."));
    EXPECT_NE(std::string::npos, written.find(".4000.tmp"));  // this process's own file
    EXPECT_NE(training.end(), std::find(training.begin(), training.end(), "-Xlog:cds*=off"));
    EXPECT_EQ(kPlainOptions[0], training[0]);

    // The runtime dumps at exit; the launcher keeps the file under its size.
    fake::addFile(written, kDynamicMagic + std::string(96, 'x'));
    finishStartupCache();
    const Strings names = cacheFolderNames();
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(".100.jsa", names[0].substr(names[0].size() - 8));

    const Strings warm = startOptions();
    EXPECT_EQ(std::string(kFolder) + "\\" + names[0], optionValue(warm, "-XX:SharedArchiveFile="));
    EXPECT_EQ(optionValue(warm, "-XX:ArchiveClassesAtExit="), "");
    finishStartupCache();  // nothing was being written
    EXPECT_EQ(names, cacheFolderNames());
}

TEST(StartupCache, AutomaticArchiveFromNineteenOn) {
    setUpMachine("21.0.4");
    const Strings training = startOptions();
    EXPECT_NE(training.end(), std::find(training.begin(), training.end(), "-XX:+AutoCreateSharedArchive"));
    const std::string written = optionValue(training, "-XX:SharedArchiveFile=");
    ASSERT_NE(std::string::npos, written.find(".tmp"));
    fake::addFile(written, kDynamicMagic + "data");
    finishStartupCache();
    const Strings warm = startOptions();
    EXPECT_EQ(warm.end(), std::find(warm.begin(), warm.end(), "-XX:+AutoCreateSharedArchive"));
    EXPECT_NE(std::string::npos, optionValue(warm, "-XX:SharedArchiveFile=").find(".8.jsa"));
}

TEST(StartupCache, KeptFilesThatChangedAreNotHandedOver) {
    const struct {
        const char* name;
        void (*spoil)(const std::string& path);
    } cases[] = {
        {"truncated", [](const std::string& path) { fake::system().files[path].resize(50); }},
        {"overwritten with other bytes", [](const std::string& path) { fake::system().files[path] = std::string(100, 'x'); }},
        {"a folder now", [](const std::string& path) {
             fake::system().files.erase(path);
             fake::addDirectory(path);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        setUpMachine("17.0.15");
        fake::addFile(optionValue(startOptions(), "-XX:ArchiveClassesAtExit="), kDynamicMagic + std::string(96, 'x'));
        finishStartupCache();
        const std::string kept = std::string(kFolder) + "\\" + cacheFolderNames().at(0);
        c.spoil(kept);
        const Strings next = startOptions();
        EXPECT_EQ("", optionValue(next, "-XX:SharedArchiveFile="));
        EXPECT_FALSE(optionValue(next, "-XX:ArchiveClassesAtExit=").empty());  // written anew
        finishStartupCache();
    }
}

TEST(StartupCache, NothingIsKeptWhenTheRuntimeWroteNoWholeArchive) {
    const struct {
        const char* name;
        const char* content;  // null: the runtime left no file
    } cases[] = {{"no file", nullptr}, {"empty", ""}, {"header never written", "\0\0\0\0data"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        setUpMachine("17.0.15");
        const std::string written = optionValue(startOptions(), "-XX:ArchiveClassesAtExit=");
        fake::system().files.erase(written);
        if (c.content) fake::addFile(written, std::string(c.content, 8));
        finishStartupCache();
        EXPECT_TRUE(cacheFolderNames().empty());
    }
}

TEST(StartupCache, ChangedJarGivesANewCacheAndTheOldOneGoes) {
    setUpMachine("17.0.15");
    fake::addFile(optionValue(startOptions(), "-XX:ArchiveClassesAtExit="), kDynamicMagic + "old");
    finishStartupCache();
    const Strings before = cacheFolderNames();
    ASSERT_EQ(1u, before.size());

    fake::system().fileTimes["C:\\App\\app.jar"] = 2000;
    const Strings next = startOptions();
    EXPECT_EQ("", optionValue(next, "-XX:SharedArchiveFile="));
    fake::addFile(optionValue(next, "-XX:ArchiveClassesAtExit="), kDynamicMagic + "newer");
    finishStartupCache();
    const Strings after = cacheFolderNames();
    ASSERT_EQ(1u, after.size());
    EXPECT_NE(before, after);
}

TEST(StartupCache, AnotherRuntimeKeepsItsOwnCache) {
    setUpMachine("17.0.15");
    fake::addFile(optionValue(startOptions(), "-XX:ArchiveClassesAtExit="), kDynamicMagic + "one");
    finishStartupCache();

    fake::addFile("C:\\Java\\other\\bin\\server\\jvm.dll", "other library");
    fake::addFile("C:\\Java\\other\\release", "JAVA_VERSION=\"17.0.9\"\n");
    Launcher launcher;
    launcher.jvmLibraryPath = "C:\\Java\\other\\bin\\server\\jvm.dll";
    launcher.productName = "Demo";
    launcher.productCode = "1.0";
    ASSERT_TRUE(assembleVmOptions(launcher));
    const std::string written = optionValue(launcher.vmOptions, "-XX:ArchiveClassesAtExit=");
    ASSERT_FALSE(written.empty());
    fake::addFile(written, kDynamicMagic + "two");
    finishStartupCache();
    EXPECT_EQ(2u, cacheFolderNames().size());
}

TEST(StartupCache, HalfWrittenFilesOfOtherStartsGoOnlyWhenOld) {
    setUpMachine("17.0.15");
    const std::int64_t hour = std::int64_t{3600} * 1000000000;
    fake::system().now = 10 * hour;
    const std::string written = optionValue(startOptions(), "-XX:ArchiveClassesAtExit=");
    const std::string stem = written.substr(0, written.find(".4000.tmp"));
    fake::addFile(stem + ".77.tmp", "");  // a start that is training right now
    fake::system().fileTimes[stem + ".77.tmp"] = 10 * hour - 60;
    fake::addFile(stem + ".78.conf", "");  // one that died long ago
    fake::system().fileTimes[stem + ".78.conf"] = 8 * hour;
    fake::addFile(written, kDynamicMagic + "data");
    finishStartupCache();
    const Strings names = cacheFolderNames();
    EXPECT_EQ(2u, names.size());
    EXPECT_TRUE(fake::system().files.count(stem + ".77.tmp"));
    EXPECT_FALSE(fake::system().files.count(stem + ".78.conf"));
}

TEST(StartupCache, AheadOfTimeCacheIsRecordedThenAssembledQuietly) {
    setUpMachine("25.0.3", "yes", "-Xmx256m -Xlog:gc:file=gc.log");
    const Strings training = startOptions();
    EXPECT_EQ("record", optionValue(training, "-XX:AOTMode="));
    const std::string configuration = optionValue(training, "-XX:AOTConfiguration=");
    ASSERT_FALSE(configuration.empty());
    for (const char* quiet : {"-XX:-DisplayVMOutput", "-Xlog:aot*=off", "-Xlog:cds*=off"}) {
        EXPECT_NE(training.end(), std::find(training.begin(), training.end(), quiet)) << quiet;
    }
    fake::addFile(configuration, "recorded classes");

    std::string argumentFile;
    fake::system().onQuietRun = [&](const std::string&, const Strings& arguments) -> std::optional<int> {
        argumentFile = fake::system().files[arguments.at(0).substr(1)];
        const std::string cacheOption = "\"-XX:AOTCache=";
        const std::size_t start = argumentFile.find(cacheOption) + cacheOption.size();
        std::string path = argumentFile.substr(start, argumentFile.find('"', start) - start);
        std::string unescaped;
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '\\') ++i;
            unescaped += path[i];
        }
        fake::addFile(unescaped, kStaticMagic + "assembled");
        return 0;
    };
    finishStartupCache();
    ASSERT_EQ(1u, fake::system().quietRuns.size());
    EXPECT_EQ(0u, fake::system().quietRuns[0].find("C:\\Java\\jre\\bin\\java.exe @"));
    EXPECT_NE(std::string::npos, argumentFile.find("\"-XX:AOTMode=create\"\n"));
    EXPECT_NE(std::string::npos, argumentFile.find("\"-cp\"\n\"C:\\\\App\\\\app.jar\"\n"));
    EXPECT_NE(std::string::npos, argumentFile.find("\"-Xmx256m\"\n"));
    EXPECT_EQ(std::string::npos, argumentFile.find("AOTMode=record"));
    EXPECT_EQ(std::string::npos, argumentFile.find("gc.log"));
    const Strings names = cacheFolderNames();  // the configuration and argument file are gone
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(".13.aot", names[0].substr(names[0].size() - 7));

    const Strings warm = startOptions();
    EXPECT_EQ(std::string(kFolder) + "\\" + names[0], optionValue(warm, "-XX:AOTCache="));
    EXPECT_EQ("", optionValue(warm, "-XX:AOTMode="));
}

TEST(StartupCache, FailedAssemblyKeepsNothing) {
    const struct {
        const char* name;
        bool recorded;
        std::optional<int> exitCode;
    } cases[] = {{"helper failed", true, 1}, {"helper did not start", true, std::nullopt}, {"nothing recorded", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        setUpMachine("25.0.3");
        const std::string configuration = optionValue(startOptions(), "-XX:AOTConfiguration=");
        if (c.recorded) fake::addFile(configuration, "recorded classes");
        const std::optional<int> exitCode = c.exitCode;
        fake::system().onQuietRun = [exitCode](const std::string&, const Strings&) { return exitCode; };
        finishStartupCache();
        EXPECT_TRUE(cacheFolderNames().empty());
    }
}

}  // namespace
}  // namespace qn
