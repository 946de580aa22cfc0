#include "vm/startup_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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

/// Plays every assembly started so far as a runtime that writes `content` after the magic.
void assemble(const std::string& content = std::string(96, 'x')) {
    for (const auto& assembly : fake::system().pendingAssemblies) fake::addFile(assembly.produced, kStaticMagic + content);
    fake::system().onAssembly = [](const std::string&, const Strings&) -> std::optional<int> { return 0; };
    fake::runAssemblies();
}

/// One training start that records something, ended, its assembly played: the kept file names.
Strings train(const std::string& content = std::string(96, 'x')) {
    const Strings options = startOptions();
    const std::string recorded = optionValue(options, "-XX:DumpLoadedClassList=");
    EXPECT_FALSE(recorded.empty());
    fake::addFile(recorded, "recorded classes");
    finishStartupCache();
    assemble(content);
    return cacheFolderNames();
}

/// A warm start whose class-load log has `shared` classes from the archive and `unshared` from jars.
Strings warmStart(int shared, int unshared) {
    const Strings options = startOptions();
    const std::string logOption = optionValue(options, "-Xlog:class+load=info:file=\"");
    const std::string log = logOption.substr(0, logOption.find('"'));
    std::string text;
    for (int i = 0; i < shared; ++i) text += "a.C" + std::to_string(i) + " source: shared objects file\n";
    for (int i = 0; i < unshared; ++i) text += "b.C" + std::to_string(i) + " source: file:/C:/App/app.jar\n";
    text += "java.lang.invoke.LambdaForm$MH/0x01 source: __JVM_LookupDefineClass__\n";
    if (!log.empty()) fake::addFile(log, text);
    finishStartupCache();
    return options;
}

TEST(StartupCache, ArchiveIsAssembledAfterTheStartAndThenUsed) {
    const struct {
        const char* version;
        const char* useOption;
        const char* assemblyMode;
        const char* extension;
    } cases[] = {
        {"17.0.15", "-XX:SharedArchiveFile=", "\"-Xshare:dump\"", ".jsa"},
        {"21.0.4", "-XX:SharedArchiveFile=", "\"-Xshare:dump\"", ".jsa"},
        {"25.0.3", "-XX:AOTCache=", "\"-XX:+AOTClassLinking\"", ".aot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        fake::reset();
        setUpMachine(c.version, "YES", "-Xmx256m -Xlog:gc:file=gc.log -javaagent:agent.jar");
        const Strings training = startOptions();
        EXPECT_EQ(kPlainOptions[0], training[0]);
        const std::string recorded = optionValue(training, "-XX:DumpLoadedClassList=");
        EXPECT_EQ(0u, recorded.find(std::string(kFolder) + "\\app.")) << recorded;
        EXPECT_NE(std::string::npos, recorded.find(".p4000."));  // this process's own file
        EXPECT_NE(training.end(), std::find(training.begin(), training.end(), "-Xlog:cds*=off"));
        fake::addFile(recorded, "recorded classes");

        // The end of the process only starts the assembly; the cache appears once it has run.
        finishStartupCache();
        ASSERT_EQ(1u, fake::system().assemblyCalls.size());
        EXPECT_EQ(0u, fake::system().assemblyCalls[0].find("C:\\Java\\jre\\bin\\java.exe @"));
        const platform::Assembly& assembly = fake::system().pendingAssemblies.at(0);
        const std::string argumentFile = fake::system().files[assembly.arguments.at(0).substr(1)];
        std::string produced = assembly.produced;  // as the argument file escapes it
        for (std::size_t i = produced.find('\\'); i != std::string::npos; i = produced.find('\\', i + 2)) produced.insert(i, 1, '\\');
        EXPECT_NE(std::string::npos, argumentFile.find("\"-XX:SharedArchiveFile=" + produced + "\"\n"));
        EXPECT_NE(std::string::npos, argumentFile.find(c.assemblyMode));
        EXPECT_NE(std::string::npos, argumentFile.find("\"-cp\"\n\"C:\\\\App\\\\app.jar\"\n"));
        EXPECT_NE(std::string::npos, argumentFile.find("\"-Xmx256m\"\n"));
        EXPECT_NE(std::string::npos, argumentFile.find("\"-Xshare:dump\"\n"));
        for (const char* left : {"AOTMode", "DumpLoadedClassList", "gc.log", "agent.jar"}) {
            EXPECT_EQ(std::string::npos, argumentFile.find(left)) << left;
        }
        for (const std::string& name : cacheFolderNames()) EXPECT_EQ(std::string::npos, name.find(c.extension)) << name;
        assemble();
        const Strings names = cacheFolderNames();  // the recording and the argument file are gone
        ASSERT_EQ(1u, names.size());
        EXPECT_EQ(std::string(".0.100") + c.extension, names[0].substr(names[0].size() - 6 - std::strlen(c.extension)));

        const Strings warm = startOptions();
        EXPECT_EQ(std::string(kFolder) + "\\" + names[0], optionValue(warm, c.useOption));
        EXPECT_EQ("", optionValue(warm, "-XX:DumpLoadedClassList="));
        EXPECT_NE("", optionValue(warm, "-Xlog:class+load=info:file=\""));
        finishStartupCache();  // no log: the runtime's logging was turned off
        EXPECT_EQ(names, cacheFolderNames());
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

TEST(StartupCache, NothingIsKeptWhenRecordingOrAssemblyFails) {
    const struct {
        const char* name;
        const char* version;
        bool recorded;
        bool starts;
        std::optional<int> exitCode;
    } cases[] = {
        {"nothing recorded", "17.0.15", false, true, 0},
        {"assembly cannot start", "17.0.15", true, false, 0},
        {"assembly failed", "25.0.3", true, true, 1},
        {"assembly killed", "25.0.3", true, true, std::nullopt},
        {"exit 0 but no file", "17.0.15", true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        setUpMachine(c.version);
        const Strings options = startOptions();
        if (c.recorded) {
            fake::addFile(optionValue(options, "-XX:DumpLoadedClassList="), "x");
        }
        fake::system().assemblyStarts = c.starts;
        finishStartupCache();
        const std::optional<int> exitCode = c.exitCode;
        fake::system().onAssembly = [exitCode](const std::string&, const Strings&) { return exitCode; };
        fake::runAssemblies();
        EXPECT_TRUE(cacheFolderNames().empty()) << cacheFolderNames().size();
    }
}

TEST(StartupCache, ChangedJarGivesANewCacheAndTheOldOneGoes) {
    setUpMachine("17.0.15");
    const Strings before = train("old");
    ASSERT_EQ(1u, before.size());
    fake::system().fileTimes["C:\\App\\app.jar"] = 2000;
    const Strings after = train("newer");
    ASSERT_EQ(1u, after.size());
    EXPECT_NE(before, after);
}

/// A jar whose manifest names others, as the zip stores it.
std::string jarNaming(const std::string& classPath) {
    const std::string manifest = "Manifest-Version: 1.0\r\nClass-Path: " + classPath + "\r\n\r\n";
    auto le = [](std::uint32_t v, int width) {
        std::string b;
        for (int i = 0; i < width; ++i) b += static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    const std::string name = "META-INF/MANIFEST.MF";
    const std::string sizes = le(0, 4) + le(static_cast<std::uint32_t>(manifest.size()), 4) + le(0, 4);
    const std::string local = le(0x04034b50, 4) + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + sizes + le(20, 2) + le(0, 2);
    const std::string central = le(0x02014b50, 4) + le(20, 2) + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + sizes +
                                le(20, 2) + std::string(8, '\0') + le(0, 4) + le(0, 4) + name;
    const std::string body = local + name + manifest;
    return body + central + le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) +
           le(static_cast<std::uint32_t>(central.size()), 4) + le(static_cast<std::uint32_t>(body.size()), 4) + le(0, 2);
}

TEST(StartupCache, ManifestClassPathIsFollowedAsTheRuntimeFollowsIt) {
    fake::addFile("C:\\App\\app.jar", jarNaming("lib/b.jar lib/sub%20dir/c.jar file:/C:/Shared/d.jar http://x/e.jar"));
    fake::addFile("C:\\App\\lib\\b.jar", jarNaming("../app.jar ./b.jar c.jar"));  // loops come back once
    fake::addFile("C:\\App\\lib\\sub dir\\c.jar", "not a zip");
    EXPECT_EQ((Strings{"C:\\App\\app.jar", "C:\\App\\lib\\b.jar", "C:\\App\\lib\\c.jar", "C:\\App\\lib\\sub dir\\c.jar",
                       "C:\\Shared\\d.jar", "C:\\App\\classes"}),
              reachedClassPath({"C:\\App\\app.jar", "C:\\App\\classes", "C:\\App\\lib\\b.jar"}));

    const struct {
        const char* jar;
        const char* url;
        std::optional<std::string> path;
    } cases[] = {
        {"C:\\A\\a.jar", "x.jar", std::string("C:\\A\\x.jar")},
        {"C:\\A\\a.jar", "../B/x%2by.jar", std::string("C:\\B\\x+y.jar")},
        {"C:\\A\\a.jar", "file:///D:/x.jar", std::string("D:\\x.jar")},
        {"C:\\A\\a.jar", "file://host/x.jar", std::nullopt},
        {"C:\\A\\a.jar", "C:/x.jar", std::nullopt},
        {"C:\\A\\a.jar", "jar:file:/x.jar!/", std::nullopt},
        {"C:\\A\\a.jar", "classes/", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(c.path, manifestEntryPath(c.jar, c.url));
    }
}

/// Points the application's class path at another installation's jar.
void installAt(const std::string& jar) {
    fake::addFile(jar, "jar");
    fake::addFile(kIni, "[Class Path]\nClass Path=" + jar + "\n[Java Runtime Environment]\nStartup Cache=yes\n");
}

TEST(StartupCache, EachInstallationKeepsItsOwnCacheUpToALimit) {
    setUpMachine("17.0.15");
    installAt("C:\\One\\app.jar");
    train();
    installAt("C:\\Two\\app.jar");
    train();
    for (const char* jar : {"C:\\One\\app.jar", "C:\\Two\\app.jar"}) {
        installAt(jar);
        EXPECT_NE("", optionValue(warmStart(50, 0), "-XX:SharedArchiveFile=")) << jar;
    }
    // More installations: the oldest caches make room.
    for (int i = 3; i <= 6; ++i) {
        fake::system().now = i * 1000;
        installAt("C:\\V" + std::to_string(i) + "\\app.jar");
        train();
    }
    EXPECT_EQ(static_cast<std::size_t>(cache::keptIdentities), cacheFolderNames().size());
    installAt("C:\\One\\app.jar");
    EXPECT_EQ("", optionValue(startOptions(), "-XX:SharedArchiveFile="));
    finishStartupCache();
}

TEST(StartupCache, HalfWrittenFilesOfOtherStartsGoOnlyWhenOld) {
    setUpMachine("17.0.15");
    const std::int64_t hour = std::int64_t{3600} * 1000000000;
    fake::system().now = 10 * hour;
    fake::addDirectory(kFolder);
    const std::string recorded = optionValue(startOptions(), "-XX:DumpLoadedClassList=");
    finishStartupCache();
    const std::string stem = recorded.substr(0, recorded.find(".p4000."));
    fake::addFile(stem + ".p77.tmp", "");  // an assembly running right now
    fake::system().fileTimes[stem + ".p77.tmp"] = 10 * hour - 60;
    fake::addFile(stem + ".p78.list", "");  // a start that died long ago
    fake::system().fileTimes[stem + ".p78.list"] = 8 * hour;
    fake::addFile(stem + ".x.conf", "");  // no file of ours
    fake::system().fileTimes[stem + ".x.conf"] = 0;
    startOptions();
    finishStartupCache();
    EXPECT_TRUE(fake::system().files.count(stem + ".p77.tmp"));
    EXPECT_FALSE(fake::system().files.count(stem + ".p78.list"));
    EXPECT_TRUE(fake::system().files.count(stem + ".x.conf"));
}

TEST(StartupCache, ClassLoadLogDecidesRetraining) {
    EXPECT_EQ(3u, cache::countClassLoads("a source: shared objects file\nb source: shared objects file (top)\n"
                                         "c source: jrt:/java.base\nd source: file:/a.jar\ne source: jar:file:/a.jar!/\n"
                                         "f source: __JVM_LookupDefineClass__\nno source here\n")
                      .unshared);
    const struct {
        std::size_t shared, unshared;
        int generation;
        cache::Verdict verdict;
    } cases[] = {
        // Fewer than the floor missing; a quarter missing; more than half missing past the limit.
        {3000, 99, 0, cache::Verdict::Keep}, {3000, 1000, 0, cache::Verdict::Keep}, {1200, 2411, 2, cache::Verdict::TurnOff},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.shared) + "/" + std::to_string(c.unshared) + " g" + std::to_string(c.generation));
        EXPECT_EQ(c.verdict, cache::judge({c.shared, c.unshared}, c.generation));
    }
}

TEST(StartupCache, ACacheThatDoesNotServeIsRetrainedABoundedNumberOfTimes) {
    setUpMachine("17.0.15");
    const Strings first = train();
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(".0.100.jsa", first[0].substr(first[0].size() - 10));
    for (int generation = 1; generation <= cache::retrainLimit; ++generation) {
        SCOPED_TRACE(generation);
        warmStart(900, 2000);  // trained on too little: the next start trains anew
        const Strings names = train();
        ASSERT_EQ(1u, names.size());
        EXPECT_EQ("." + std::to_string(generation) + ".100.jsa", names[0].substr(names[0].size() - 10));
    }
    warmStart(1500, 1000);  // past the limit a cache that serves some is kept
    EXPECT_NE("", optionValue(warmStart(0, 3000), "-XX:SharedArchiveFile="));
    // One the runtime refused is neither used nor trained again.
    const Strings off = startOptions();
    EXPECT_EQ(kPlainOptions, off);
    finishStartupCache();
}

}  // namespace
}  // namespace qn
