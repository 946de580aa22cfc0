#include "vm/startup_cache.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "vm/startup_cache_store.h"
#include "vm/vm_options.h"

namespace qn {
namespace {

using Strings = std::vector<std::string>;

const char* const kIni = "C:\\App\\app.ini";
const char* const kLibrary = "C:\\Java\\jre\\bin\\server\\jvm.dll";
const char* const kFolder = "C:\\Users\\u\\AppData\\Local\\Demo\\1.0";
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
        {"JAVA_VERSION=\"13\"\n", 13, CacheMechanism::StaticArchive},
        {"JAVA_VERSION=\"17.0.15\"\r\n", 17, CacheMechanism::StaticArchive},
        {"JAVA_VERSION=\"18.0.2.1\"\n", 18, CacheMechanism::StaticArchive},
        {"JAVA_VERSION=\"19\"\n", 19, CacheMechanism::StaticArchive},
        {"JAVA_VERSION=\"24.0.1\"\n", 24, CacheMechanism::StaticArchive},
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

/// Plays the assemblies started so far as a runtime that writes an archive.
void assemble() {
    for (const auto& assembly : fake::system().pendingAssemblies) fake::addFile(assembly.produced, kStaticMagic + std::string(96, 'x'));
    fake::runAssemblies();
}

/// One training start that records something, ended, its assembly played: the kept file names.
Strings train() {
    fake::addFile(optionValue(startOptions(), "-XX:DumpLoadedClassList="), "recorded classes");
    finishStartupCache();
    assemble();
    return cacheFolderNames();
}

/// A warm start whose class-load log has `shared` classes from the archive and `unshared` from a jar.
Strings warmStart(int shared, int unshared) {
    const Strings options = startOptions();
    const std::string log = optionValue(options, "-Xlog:class+load=info:file=\"");
    std::string text;
    for (int i = 0; i < shared + unshared; ++i) text += i < shared ? "a source: shared objects file\n" : "b source: file:/a.jar\n";
    fake::addFile(log.substr(0, log.find('"')), text);
    finishStartupCache();
    return options;
}

TEST(StartupCache, TrainingListsTheClassesAndTheAssemblyTakesTheStartsOptions) {
    for (const char* version : {"17.0.15", "25.0.3"}) {
        SCOPED_TRACE(version);
        fake::reset();
        setUpMachine(version, "YES", "-Xmx256m -Xlog:gc:file=gc.log -javaagent:agent.jar");
        const Strings training = startOptions();
        EXPECT_EQ(kPlainOptions[0], training[0]);
        const std::string recorded = optionValue(training, "-XX:DumpLoadedClassList=");
        EXPECT_EQ(0u, recorded.find(std::string(kFolder) + "\\app.")) << recorded;
        EXPECT_NE(std::string::npos, recorded.find(".p4000."));  // this process's own file
        EXPECT_NE(training.end(), std::find(training.begin(), training.end(), "-Xlog:cds*=off"));
        fake::addFile(recorded, "recorded classes");

        finishStartupCache();
        ASSERT_EQ(1u, fake::system().pendingAssemblies.size());
        const platform::Assembly& assembly = fake::system().pendingAssemblies[0];
        EXPECT_EQ("C:\\Java\\jre\\bin\\java.exe", assembly.program);
        const std::string arguments = fake::system().files[assembly.arguments.at(0).substr(1)];  // "@<file>"
        for (const char* given : {"\"-Xshare:dump\"\n", "\"-cp\"\n\"C:\\\\App\\\\app.jar\"\n", "\"-Xmx256m\"\n"}) {
            EXPECT_NE(std::string::npos, arguments.find(given)) << given;
        }
        EXPECT_EQ(version[0] == '2', arguments.find("\"-XX:+AOTClassLinking\"\n") != std::string::npos);
        for (const char* left : {"AOTMode", "DumpLoadedClassList", "gc.log", "agent.jar"}) {
            EXPECT_EQ(std::string::npos, arguments.find(left)) << left;
        }
    }
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
        c.spoil(std::string(kFolder) + "\\" + train().at(0));
        const Strings next = startOptions();
        EXPECT_EQ("", optionValue(next, "-XX:SharedArchiveFile="));
        EXPECT_FALSE(optionValue(next, "-XX:DumpLoadedClassList=").empty());  // trained anew
        finishStartupCache();
    }
}


TEST(StartupCache, NothingIsLeftWhenTheAssemblyCannotStart) {
    setUpMachine("17.0.15");
    fake::system().assemblyStarts = false;
    fake::addFile(optionValue(startOptions(), "-XX:DumpLoadedClassList="), "classes");
    finishStartupCache();
    EXPECT_TRUE(cacheFolderNames().empty()) << cacheFolderNames().size();
}

TEST(StartupCache, ChangedJarGivesANewCacheAndTheOldOneGoes) {
    setUpMachine("17.0.15");
    const Strings before = train();
    ASSERT_EQ(1u, before.size());
    fake::system().fileTimes["C:\\App\\app.jar"] = 2000;
    const Strings after = train();
    ASSERT_EQ(1u, after.size());
    EXPECT_NE(before, after);
}

TEST(StartupCache, EachInstallationKeepsItsOwnCacheUpToALimit) {
    setUpMachine("17.0.15");
    const auto installAt = [](int i) {
        const std::string jar = "C:\\V" + std::to_string(i) + "\\app.jar";
        fake::addFile(jar, "jar");
        fake::addFile(kIni, "[Class Path]\nClass Path=" + jar + "\n[Java Runtime Environment]\nStartup Cache=yes\n");
    };
    for (int i = 0; i <= cache::keptIdentities; ++i) {
        fake::system().now = i * 1000;
        installAt(i);
        EXPECT_EQ(static_cast<std::size_t>(std::min(i + 1, cache::keptIdentities)), train().size()) << i;
    }
    // The one trained before the last still starts warm; the oldest made room.
    installAt(cache::keptIdentities - 1);
    EXPECT_NE("", optionValue(startOptions(), "-XX:SharedArchiveFile="));
    finishStartupCache();
    installAt(0);
    EXPECT_EQ("", optionValue(startOptions(), "-XX:SharedArchiveFile="));
    finishStartupCache();
}

TEST(StartupCache, HalfWrittenFilesOfOtherStartsGoOnlyWhenOld) {
    setUpMachine("17.0.15");
    const std::int64_t hour = std::int64_t{3600} * 1000000000;
    fake::system().now = 10 * hour;
    const std::string recorded = optionValue(startOptions(), "-XX:DumpLoadedClassList=");
    const std::string stem = recorded.substr(0, recorded.find(".p4000."));
    fake::addFile(stem + ".p77.tmp", "");  // an assembly running right now
    fake::system().fileTimes[stem + ".p77.tmp"] = 10 * hour - 60;
    fake::addFile(stem + ".p78.list", "");  // a start that died long ago
    fake::system().fileTimes[stem + ".p78.list"] = 8 * hour;
    finishStartupCache();
    EXPECT_TRUE(fake::system().files.count(stem + ".p77.tmp"));
    EXPECT_FALSE(fake::system().files.count(stem + ".p78.list"));
}

TEST(StartupCache, ACacheThatDoesNotServeIsRetrainedABoundedNumberOfTimes) {
    EXPECT_EQ(3u, cache::countClassLoads("a source: shared objects file (top)\nb source: jrt:/java.base\nc source: file:/a.jar\n"
                                         "d source: jar:file:/a.jar!/\ne source: __JVM_LookupDefineClass__\nno source\n").unshared);
    setUpMachine("17.0.15");
    train();
    for (int generation = 1; generation <= cache::retrainLimit; ++generation) {
        warmStart(900, 2000);  // trained on too little: the next start trains anew
        const Strings names = train();
        ASSERT_EQ(1u, names.size()) << generation;
        EXPECT_EQ("." + std::to_string(generation) + ".100.jsa", names[0].substr(names[0].size() - 10));
    }
    warmStart(1500, 1000);  // past the limit a cache that serves some is kept
    EXPECT_NE("", optionValue(warmStart(0, 3000), "-XX:SharedArchiveFile="));
    // One the runtime refused is neither used nor trained again.
    EXPECT_EQ(kPlainOptions, startOptions());
    finishStartupCache();
}

}  // namespace
}  // namespace qn
