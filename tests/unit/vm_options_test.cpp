#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "vm/vm_options.h"

namespace qn {
namespace {

using Strings = std::vector<std::string>;

const char* const kIni = "C:\\App\\app.ini";
const char* const kLibrary = "C:\\Java\\jre\\bin\\client\\jvm.dll";
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kTiB = std::uint64_t{1} << 40;

void writeIni(const std::string& content) { fake::addFile(kIni, content); }

std::string environment(const std::string& name) {
    const auto it = fake::system().environment.find(name);
    return it == fake::system().environment.end() ? "(unset)" : it->second;
}

// The example a newcomer reads first: every piece of the option list, to the character.
TEST(VmOptions, WorkedExample) {
    fake::system().memory.totalPhysical = kGiB;
    fake::system().environment = {{"Path", "C:\\Windows;C:\\Windows\\System32"}, {"TEMP", "C:\\Temp"}};
    fake::addFile("C:\\App\\app.jar");
    fake::addFile("C:\\App\\lib\\a.jar");
    fake::addFile("C:\\App\\lib\\b.jar");
    writeIni(
        "[Class Path]\nClass Path=app.jar;lib\\*.jar\n"
        "[Java Runtime Environment]\n"
        "Virtual Machine Parameters=-Xmx50:64:512P -Dlog=%TEMP%\\app.log\n");
    Launcher launcher;
    launcher.jvmLibraryPath = kLibrary;
    launcher.libraryPath = "native";
    launcher.mainClass = "com/example/App";
    launcher.arguments = {"report.txt"};

    setNativeSearchPaths(launcher);
    EXPECT_EQ("C:\\Windows;C:\\Windows\\System32;C:\\Java\\jre\\bin", environment("Path"));
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ((Strings{
                  "-Djava.library.path=C:\\App\\native;C:\\App\\;C:\\Windows;C:\\Windows\\System32;"
                  "C:\\Java\\jre\\lib",
                  "-Djava.class.path=C:\\App\\app.jar;C:\\App\\lib\\a.jar;C:\\App\\lib\\b.jar",
                  "-Dsun.java.command=com.example.App report.txt",
                  "-Xmx524288K",
                  "-Dlog=C:\\Temp\\app.log",
              }),
              launcher.vmOptions);
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

TEST(NativeSearchPaths, PathAndLibraryPathRules) {
    const struct {
        const char* name;
        const char* systemPath;
        const char* libraryPath;
        const char* expectedPath;
        const char* expectedOption;  // empty: no library-path option
    } cases[] = {
        {"no library path", "", "", "C:\\Windows;C:\\Java\\jre\\bin", ""},
        {"system path first", "C:\\Tools", "", "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin", ""},
        {"no second separator", "C:\\Tools;", "", "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin", ""},
        {"system path expanded", "%TOOLS%\\bin", "", "D:\\T\\bin;C:\\Windows;C:\\Java\\jre\\bin", ""},
        {"library path ending in separator", "", "a;b;", "C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=C:\\App\\a;C:\\App\\b;C:\\App\\;C:\\Windows;C:\\Java\\jre\\lib"},
        {"library path expanded", "C:\\Tools", "%TOOLS%\\native",
         "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin",
         // the inherited Path, not the new one
         "-Djava.library.path=D:\\T\\native;C:\\App\\;C:\\Windows;C:\\Java\\jre\\lib"},
        {"undefined name kept", "", "%NOPE%", "C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=C:\\App\\%NOPE%;C:\\App\\;C:\\Windows;C:\\Java\\jre\\lib"},
        {"relative folders taken in the application folder", "", ".;\\native;D:lib;D:\\abs",
         "C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=C:\\App\\.;C:\\App\\native;C:\\App\\lib;D:\\abs;C:\\App\\;C:\\Windows;C:\\Java\\jre\\lib"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::system().environment = {{"Path", "C:\\Windows"}, {"TOOLS", "D:\\T"}};
        Launcher launcher;
        launcher.jvmLibraryPath = kLibrary;
        launcher.systemPath = c.systemPath;
        launcher.libraryPath = c.libraryPath;
        setNativeSearchPaths(launcher);
        EXPECT_EQ(c.expectedPath, environment("Path"));
        EXPECT_EQ(*c.expectedOption ? Strings{c.expectedOption} : Strings{}, launcher.vmOptions);
    }
}

TEST(NativeSearchPaths, UnknownModulePathLeavesTheApplicationFolderOut) {
    fake::system().modulePath.reset();
    fake::system().moduleError = 5;
    fake::system().environment = {{"Path", "C:\\Windows"}};
    Launcher launcher;
    launcher.jvmLibraryPath = kLibrary;
    launcher.libraryPath = "native;D:\\abs";
    setNativeSearchPaths(launcher);
    // A relative folder would be the working folder's: it is left out.
    EXPECT_EQ(Strings{"-Djava.library.path=D:\\abs;C:\\Windows;C:\\Java\\jre\\lib"}, launcher.vmOptions);
    EXPECT_EQ(Strings{"Windows exception: failed to get the module path (errno = 5).\n"},
              fake::system().errorBoxes);
}

TEST(NativeSearchPaths, PosixUsesItsListSeparatorAndFolders) {
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/opt/app/app");
    fake::system().environment = {{"PATH", "/usr/bin:/bin"}};
    Launcher launcher;
    launcher.jvmLibraryPath = "/usr/lib/jvm/j17/lib/server/libjvm.so";
    launcher.systemPath = "/opt/tools;/opt/more";  // the ini writes ";" on every platform
    launcher.libraryPath = "native;%HOME%/lib:rel";  // ":" separates folders here too
    fake::system().environment["HOME"] = "/home/u";
    setNativeSearchPaths(launcher);
    EXPECT_EQ("/opt/tools:/opt/more:/usr/bin:/bin:/usr/lib/jvm/j17/bin", environment("PATH"));
    EXPECT_EQ("(unset)", environment("Path"));
    EXPECT_EQ(Strings{"-Djava.library.path=/opt/app/native:/home/u/lib:/opt/app/rel:/opt/app/:/usr/bin:/bin:"
                      "/usr/lib/jvm/j17/lib"},
              launcher.vmOptions);
}

TEST(RuntimeFolders, BinAndLibOfEachLayout) {
    const struct {
        const PlatformConventions* conventions;
        const char* library;
        const char* bin;
        const char* lib;
    } cases[] = {
        {&windowsConventions(), "C:\\Java\\jre\\bin\\client\\jvm.dll", "C:\\Java\\jre\\bin", "C:\\Java\\jre\\lib"},
        {&windowsConventions(), "C:\\J\\bin\\server\\jvm.dll", "C:\\J\\bin", "C:\\J\\lib"},
        {&windowsConventions(), "bin\\client\\jvm.dll", "bin", "lib"},  // found in the current folder
        {&posixConventions(), "/usr/lib/jvm/j17/lib/server/libjvm.so", "/usr/lib/jvm/j17/bin",
         "/usr/lib/jvm/j17/lib"},
        {&posixConventions(), "/j8/jre/lib/amd64/server/libjvm.so", "/j8/bin", "/j8/jre/lib/amd64"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        fake::system().conventions = c.conventions;
        const RuntimeFolders folders = runtimeFolders(c.library);
        EXPECT_EQ(c.bin, folders.bin);
        EXPECT_EQ(c.lib, folders.lib);
    }
}

TEST(RuntimeFolders, DoubleByteTrailBytesAreNotSeparators) {
    fake::system().leadBytes = {0x83};
    // "\x83\x5C" is one character whose second byte has the value of a backslash: the home is
    // C:\, not the part of the folder name before that byte.
    const RuntimeFolders folders = runtimeFolders("C:\\J\x83\\bin\\client\\jvm.dll");
    EXPECT_EQ("C:\\J\x83\\bin", folders.bin);
    EXPECT_EQ("C:\\lib", folders.lib);
}

class ClassPath : public testing::Test {
protected:
    void SetUp() override {
        fake::addFile("C:\\App\\app.jar");
        fake::addFile("C:\\App\\lib\\a.jar");
        fake::addFile("C:\\App\\lib\\b.jar");
        fake::addFile("C:\\App\\lib\\notes.txt");
        fake::addFile("C:\\libs\\x.jar");
        fake::addFile("C:\\libs\\a;b.jar");  // a wildcard leaves it out: it would split the list
    }
};

TEST_F(ClassPath, EntryRules) {
    const struct {
        const char* name;
        const char* configured;
        bool embedded;
        const char* expected;
    } cases[] = {
        {"wildcard in enumeration order", "lib\\*.jar", false, "C:\\App\\lib\\a.jar;C:\\App\\lib\\b.jar;"},
        {"leading backslash", "\\lib\\a.jar;lib\\a.jar", false, "C:\\App\\lib\\a.jar;C:\\App\\lib\\a.jar;"},
        {"missing relative entry disappears", "missing.jar;app.jar", false, "C:\\App\\app.jar;"},
        {"missing absolute entry stays", "D:\\x\\y.jar", false, "D:\\x\\y.jar;"},
        {"network path is absolute", "\\\\srv\\share\\z.jar", false, "\\\\srv\\share\\z.jar;"},
        {"empty entry", "app.jar;;lib\\a.jar", false, "C:\\App\\app.jar;C:\\App\\lib\\a.jar;"},
        {"entries are not trimmed", "app.jar; lib\\a.jar", false, "C:\\App\\app.jar;"},
        {"a wildcard never yields . or ..", "C:\\libs\\*;lib\\*;C:\\libs\\.*", false,
         "C:\\libs\\x.jar;C:\\App\\lib\\a.jar;C:\\App\\lib\\b.jar;C:\\App\\lib\\notes.txt;"},
        {"drive-relative entries are the application folder's", "C:lib\\a.jar;D:lib\\*.jar;C:", false,
         "C:\\App\\lib\\a.jar;C:\\App\\lib\\a.jar;C:\\App\\lib\\b.jar;C:\\App\\.;"},
        {"absolute wildcard is enumerated", "C:\\libs\\*.jar;C:\\none\\*.jar", false, "C:\\libs\\x.jar;"},
        {"name as the system returns it", "APP.JAR", false, "C:\\App\\app.jar;"},
        {"single character entry", "x", false, ""},
        {"forward slashes keep their folder", "lib/*.jar;lib/a.jar", false,
         "C:\\App\\lib/a.jar;C:\\App\\lib/b.jar;C:\\App\\lib/a.jar;"},
        {"leading forward slash", "/app.jar;/lib\\a.jar", false, "C:\\App\\app.jar;C:\\App\\lib\\a.jar;"},
        {"folder with a trailing separator", "lib\\;lib/;lib\\\\", false, "C:\\App\\lib;C:\\App\\lib;C:\\App\\lib;"},
        {"absolute wildcard with forward slashes", "C:/libs/*.jar", false, "C:/libs/x.jar;"},
        {"separators alone", "\\;/", false, ""},
        {"executable alone", "", true, "C:\\App\\app.exe"},
        {"executable last", "app.jar", true, "C:\\App\\app.jar;C:\\App\\app.exe"},
        {"nothing", "missing.jar", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, buildClassPath(Launcher{}, c.configured, c.embedded).value_or("(refused)"));
    }
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

TEST_F(ClassPath, UnknownModulePathIsReportedOnceAndEntriesResolveAgainstNothing) {
    fake::system().modulePath.reset();
    fake::system().moduleError = 8;
    EXPECT_EQ("C:\\libs\\x.jar;D:\\y.jar;",
              buildClassPath(Launcher{}, "a.jar;C:\\libs\\*.jar;b.jar;D:\\y.jar", true).value_or("(refused)"));
    EXPECT_EQ((std::vector<std::string>{"Windows exception: failed to get the module path (errno = 8).\n",
                                        "Windows exception: failed to get the module path (errno = 8).\n"}),
              fake::system().errorBoxes);  // the folder once, the executable once
}

TEST_F(ClassPath, PosixEntriesWithEitherSlash) {
    fake::reset();
    fake::system().conventions = &posixConventions();
    fake::system().modulePath = std::string("/opt/app/app");
    fake::addFile("/opt/app/app.jar");
    fake::addFile("/opt/app/lib/a.jar");
    fake::addFile("/opt/app/lib/b.jar");
    EXPECT_EQ("/opt/app/app.jar:/opt/app/lib/a.jar:/opt/app/lib/b.jar:/usr/share/x.jar:",
              buildClassPath(Launcher{}, "app.jar;lib\\*.jar;/usr/share/x.jar", false).value_or("(refused)"));
    EXPECT_EQ("/opt/app/lib/a.jar:/opt/app/app", buildClassPath(Launcher{}, "lib/a.jar", true).value_or("(refused)"));
    EXPECT_EQ("/opt/app/lib:/opt/app/lib:", buildClassPath(Launcher{}, "lib/;lib\\", false).value_or("(refused)"));
}

TEST_F(ClassPath, NoClassPathIsReportedAndStopsTheStep) {
    writeIni(
        "[Class Path]\nClass Path=missing.jar\n"
        "[Java Runtime Environment]\nVirtual Machine Parameters=-Xss1m\n"
        "[Application]\nCmd=extra\nOutput File=out.txt\n");
    Launcher launcher;
    launcher.arguments = {"a"};
    EXPECT_FALSE(assembleVmOptions(launcher));
    EXPECT_EQ(Strings{"Java Class Path was not specified in INI file."}, fake::system().errorBoxes);
    EXPECT_TRUE(launcher.vmOptions.empty());
    EXPECT_EQ(Strings{"a"}, launcher.arguments);
    EXPECT_EQ(0u, launcher.mainThreadStackSize);
    EXPECT_EQ("", launcher.outputFile);
}

TEST_F(ClassPath, EmbeddedJarIsReadInAnyCase) {
    writeIni("[Application]\nEmbedded Jar=YES\n");
    Launcher launcher;
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ((Strings{"-Djava.class.path=C:\\App\\app.exe", "-Dsun.java.command="}), launcher.vmOptions);
}

TEST_F(ClassPath, EnvironmentIsExpandedInTheValueBeforeEntriesAreSplitAndFound) {
    fake::system().environment = {{"LIB", "lib"}, {"MORE", "D:\\m.jar;lib\\b.jar"}};
    writeIni("[Class Path]\nClass Path=%LIB%\\a.jar;D:\\%LIB%\\z.jar;%MORE%\n");
    Launcher launcher;
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ((Strings{"-Djava.class.path=C:\\App\\lib\\a.jar;D:\\lib\\z.jar;D:\\m.jar;C:\\App\\lib\\b.jar",
                       "-Dsun.java.command="}),
              launcher.vmOptions);
}

// A folder or file whose name holds a reference keeps it: only the ini's own values are expanded.
TEST(VmOptions, NamesHoldingReferencesReachTheRuntimeAsTheyAre) {
    fake::system().modulePath = std::string("C:\\x%USER%y\\app.exe");
    fake::system().environment = {{"Path", "C:\\W"}, {"USER", "root"}, {"LIB", "lib"}};
    fake::addFile("C:\\x%USER%y\\lib\\a%USER%.jar");
    fake::addFile("C:\\x%USER%y\\app.ini", "[Class Path]\nClass Path=%LIB%\\*.jar\n");
    Launcher launcher;
    launcher.jvmLibraryPath = "C:\\J%USER%\\bin\\client\\jvm.dll";
    launcher.libraryPath = "%LIB%";
    ASSERT_TRUE(setNativeSearchPaths(launcher));
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ((Strings{"-Djava.library.path=C:\\x%USER%y\\lib;C:\\x%USER%y\\;C:\\W;C:\\J%USER%\\lib",
                       "-Djava.class.path=C:\\x%USER%y\\lib\\a%USER%.jar", "-Dsun.java.command="}),
              launcher.vmOptions);
}

// A name holding the list separator would reach the runtime as two items, the second relative to
// the working folder: the start stops with its name (a wildcard match is left out: EntryRules).
TEST(VmOptions, PathsHoldingTheListSeparator) {
    const struct {
        const char* ini;
        const char* libraryPath;
        const char* refused;  // the path the box names
    } cases[] = {
        {"Class Path=app.jar", "", "C:\\Tools;Old\\app.jar"},
        {"[Application]\nEmbedded Jar=yes", "", "C:\\Tools;Old\\app.exe"},
        {"Class Path=D:\\x.jar", "native", "C:\\Tools;Old\\native"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        fake::reset();
        fake::system().modulePath = std::string("C:\\Tools;Old\\app.exe");
        fake::addFile("C:\\Tools;Old\\app.jar");
        fake::addFile("C:\\Tools;Old\\app.ini", std::string("[Class Path]\n") + c.ini + "\n");
        Launcher launcher;
        launcher.jvmLibraryPath = kLibrary;
        launcher.libraryPath = c.libraryPath;
        EXPECT_FALSE(setNativeSearchPaths(launcher) && assembleVmOptions(launcher));
        EXPECT_EQ(Strings{std::string("This path cannot be handed to Java, because its name holds ';', the separator of "
                                      "Java's path lists: ") + c.refused},
                  fake::system().errorBoxes);
    }
}

// An empty item reads as the current folder: none may reach the runtime, wherever it comes from.
TEST(VmOptions, NoEmptyItemInTheClassPathOrTheLibraryPath) {
    const struct {
        const char* name;
        const PlatformConventions* conventions;
        const char* classPath;
        const char* libraryPath;
        const char* inheritedPath;
        Strings expected;
    } cases[] = {
        {"trailing separator dropped", &windowsConventions(), "app.jar;lib\\*.jar", "", "C:\\W",
         {"-Djava.class.path=C:\\App\\app.jar;C:\\App\\lib\\a.jar", "-Dsun.java.command="}},
        {"reference that comes out empty", &windowsConventions(), "D:\\x.jar;D:\\%EMPTY%;%EMPTY%;C:\\%SEPARATORS%", "", "C:\\W",
         {"-Djava.class.path=D:\\x.jar;D:\\;C:\\", "-Dsun.java.command="}},
        {"runs of separators between and after items", &windowsConventions(),
         "D:\\%SEPARATORS%D:\\y.jar;D:\\z.jar%SEPARATORS%;D:\\%SEPARATORS%%SEPARATORS%w.jar", "", "C:\\W",
         // w.jar is a relative entry once the references are expanded: the application has none.
         {"-Djava.class.path=D:\\;D:\\y.jar;D:\\z.jar;D:\\", "-Dsun.java.command="}},
        {"empty items of the library path", &windowsConventions(), "app.jar", ";native;;%EMPTY%",
         ";C:\\W;;C:\\X;",
         {"-Djava.library.path=C:\\App\\native;C:\\App\\;C:\\W;C:\\X;C:\\Java\\jre\\lib",
          "-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command="}},
        {"posix", &posixConventions(), "app.jar;lib/*.jar", "native", "/usr/bin::/bin:",
         {"-Djava.library.path=/opt/app/native:/opt/app/:/usr/bin:/bin:/usr/lib/jvm/j17/lib",
          "-Djava.class.path=/opt/app/app.jar:/opt/app/lib/a.jar", "-Dsun.java.command="}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::system().conventions = c.conventions;
        const bool posix = c.conventions == &posixConventions();
        fake::system().modulePath = std::string(posix ? "/opt/app/app" : "C:\\App\\app.exe");
        fake::system().environment = {{posix ? "PATH" : "Path", c.inheritedPath},
                                      {"EMPTY", ""},
                                      {"SEPARATORS", ";;"}};
        fake::addFile(posix ? "/opt/app/app.jar" : "C:\\App\\app.jar");
        fake::addFile(posix ? "/opt/app/lib/a.jar" : "C:\\App\\lib\\a.jar");
        fake::addFile(posix ? "/opt/app/app.ini" : kIni, std::string("[Class Path]\nClass Path=") + c.classPath + "\n");
        Launcher launcher;
        launcher.jvmLibraryPath = posix ? "/usr/lib/jvm/j17/lib/server/libjvm.so" : kLibrary;
        launcher.libraryPath = c.libraryPath;
        setNativeSearchPaths(launcher);
        ASSERT_TRUE(assembleVmOptions(launcher));
        EXPECT_EQ(c.expected, launcher.vmOptions);
    }
}

TEST_F(ClassPath, TheCommandNamesTheMainClassAndEveryArgumentAsGiven) {
    fake::system().environment = {{"HOME", "C:\\Users\\u"}};
    writeIni("[Class Path]\nClass Path=D:\\app.jar\n[Application]\nCmd=--from-ini\n"
             "[Java Runtime Environment]\nVirtual Machine Parameters=-Dsun.java.command=Mine -Da\n");
    Launcher launcher;
    launcher.mainClass = "org/example/tools/Main";
    launcher.arguments = {"%HOME%", "two words", ""};
    ASSERT_TRUE(assembleVmOptions(launcher));
    // After the class path, before the user's options, so that a vendor's own value still wins.
    EXPECT_EQ((Strings{"-Djava.class.path=D:\\app.jar",
                       "-Dsun.java.command=org.example.tools.Main %HOME% two words  --from-ini",
                       "-Dsun.java.command=Mine", "-Da"}),
              launcher.vmOptions);
}

TEST(SplitVmParameters, Tokens) {
    const struct {
        const char* text;
        Strings tokens;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"  -Xmx1g   -Dx=1  ", {"-Xmx1g", "-Dx=1"}},
        {" -Da", {"-Da"}},  // an additive section's value
        {"-Dapp.dir=\"C:\\My App\" -Dy", {"-Dapp.dir=\"C:\\My App\"", "-Dy"}},
        {"\"-Da=b c\" d", {"\"-Da=b c\"", "d"}},
        {"-Da=\"x -Db", {"-Da=\"x", "-Db"}},  // no closing quote: protects nothing
        {"-Da=\"x", {"-Da=\"x"}},
        {"a\"b c\"d\"e f\"g h", {"a\"b c\"d\"e f\"g", "h"}},
        {"\"a\"\"b c\"", {"\"a\"\"b", "c\""}},  // the doubled quote belongs to the closing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.tokens, splitVmParameters(c.text));
    }
}

TEST(StripQuotes, QuotePairs) {
    const struct {
        const char* token;
        const char* expected;
    } cases[] = {
        {"-Dapp.dir=\"C:\\My App\"", "-Dapp.dir=C:\\My App"},
        {"\"-Da=b c\"", "-Da=b c"},
        {"a\"b\"c\"d\"e", "abcde"},
        {"a\"b", "a\"b"},
        {"\"\"", ""},
        {"\"a\"\"b", "a\"b"},
        {"\"a\"\"b\"c", "abc"},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(c.expected, stripQuotes(c.token));
    }
}

TEST(RewriteMemoryOption, PercentagesOfTwoGigabytes) {
    const platform::MemoryStatus memory{2 * kGiB, 3 * kGiB};
    const struct {
        const char* token;
        const char* expected;
    } cases[] = {
        {"-Xmx50P", "-Xmx1048576K"},
        {"-Xmx25:512:768P", "-Xmx524288K"},
        {"-Xmx10:256P", "-Xmx262144K"},
        {"-Xms:64P", "-Xms65536K"},
        {"-Xmx50p", "-Xmx1048576K"},
        {"-Xmx10T", "-Xmx314572K"},         // of the available address space
        {"-Xmx90:0:1024t", "-Xmx1048576K"},  // upper bound
        {"-Xmx10:900:800P", "-Xmx921600K"},  // the lower bound wins a conflict
        {"-Xmxab50P", "-Xmxab1048576K"},     // the prefix runs to the first digit
        {"-Xmx5x0P", "-Xmx1048576K"},        // other characters are skipped
        {"-XmxP", "-Xmx0K"},
    };
    for (bool wide : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.token) + (wide ? " wide" : " narrow"));
            EXPECT_EQ(c.expected, rewriteMemoryOption(c.token, memory, wide));
        }
    }
}

TEST(RewriteMemoryOption, LargeBasesWrapOnlyInTheNarrowRule) {
    const struct {
        platform::MemoryStatus memory;
        const char* token;
        const char* narrow;
        const char* wide;
    } cases[] = {
        {{16 * kGiB, 0}, "-Xmx50P", "-Xmx8388608K", "-Xmx8388608K"},
        {{0, 128 * kTiB}, "-Xmx50T", "-Xmx0K", "-Xmx68719476736K"},
        {{3 * kTiB, 0}, "-Xmx100P", "-Xmx-1073741824K", "-Xmx3221225472K"},
        {{0, 128 * kTiB}, "-Xmx50:0:2048T", "-Xmx0K", "-Xmx2097152K"},  // wrapped below the bound
        {{kGiB, 0}, "-Xmx1:8388608P", "-Xmx10485K", "-Xmx8589934592K"},  // an 8 TiB lower bound
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(c.narrow, rewriteMemoryOption(c.token, c.memory, false));
        EXPECT_EQ(c.wide, rewriteMemoryOption(c.token, c.memory, true));
    }
}

TEST(IsPercentageMemoryOption, OnlyTheThreeOptionsWithAPercentageUnit) {
    const struct {
        const char* token;
        bool expected;
    } cases[] = {
        {"-Xmx50P", true}, {"-Xms50p", true}, {"-Xss5T", true}, {"-Xmx5t", true},
        {"-Xmx512m", false}, {"-xmx50P", false}, {"-XMX50P", false}, {"-Xmn50P", false},
        {"-Xmx", false}, {"-DP", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(c.expected, isPercentageMemoryOption(c.token));
    }
}

TEST(ParseStackSize, Units) {
    const struct {
        const char* value;
        std::uint32_t expected;
    } cases[] = {
        {"512k", 524288},   {"512K", 524288},       {"1m", 1048576},  {"1M", 1048576},
        {"1048576", 1048576}, {"2g", 2147483648u},  {"5", 5},         {"100b", 100},
        {"", 0},            {"k", 0},               {"x1m", 0},       {"1:2m", 0},
        {"4g", 0},  // 2^32 as a 32-bit value
        {"1x2k", 12288},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.expected, parseStackSize(c.value));
    }
}

TEST(UserParameters, ProcessingOfEachToken) {
    const struct {
        const char* name;
        const char* parameters;
        Strings options;  // after the class-path option
        std::uint32_t stackSize;
    } cases[] = {
        {"blanks make no options", "   -Da   -Db  ", {"-Da", "-Db"}, 0},
        {"quotes removed", "-Dapp.dir=\"C:\\My App\"", {"-Dapp.dir=C:\\My App"}, 0},
        {"not a percentage", "-Xmx512m -xmx50P", {"-Xmx512m", "-xmx50P"}, 0},
        {"last -Xss wins, both passed", "-Xss512k -Xss1m", {"-Xss512k", "-Xss1m"}, 1048576},
        {"a -Xss that does not count resets", "-Xss1m -Xssbig", {"-Xss1m", "-Xssbig"}, 0},
        {"percentage stack", "-Xss20P", {"-Xss419430K"}, 429496320},
        {"quoted -Xss", "\"-Xss2m\"", {"-Xss2m"}, 2097152},
        {"expanded", "-Dhome=%HOMEDIR% -Dx=%NOPE%", {"-Dhome=C:\\Users\\u", "-Dx=%NOPE%"}, 0},
        {"expanded after the -Xss rule", "-Xss%SIZE%", {"-Xss1m"}, 0},
        // No runtime starts with an empty option, so quotes alone add none.
        {"quotes alone", "\"\" -Xmx64m", {"-Xmx64m"}, 0},
        {"quotes alone between", "-Da \"\" -Db", {"-Da", "-Db"}, 0},
        {"empty after expansion", "%EMPTY% -Da", {"-Da"}, 0},
        // The user's own lists win over the launcher's: no empty item, which is the working folder.
        {"own class path without empty items", "-Djava.class.path=D:\\a.jar;%EMPTY%;D:\\b.jar;",
         {"-Djava.class.path=D:\\a.jar;D:\\b.jar"}, 0},
        {"own lists with no item left", "-Djava.class.path= -Djava.library.path=;%EMPTY%; -Da", {"-Da"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::system().memory.totalPhysical = 2 * kGiB;
        fake::system().environment = {{"HOMEDIR", "C:\\Users\\u"}, {"SIZE", "1m"}, {"EMPTY", ""}};
        fake::addFile("C:\\App\\app.jar");
        writeIni(std::string("[Class Path]\nClass Path=app.jar\n[Java Runtime Environment]\n"
                             "Virtual Machine Parameters=") +
                 c.parameters + "\n");
        Launcher launcher;
        ASSERT_TRUE(assembleVmOptions(launcher));
        Strings expected{"-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command="};
        expected.insert(expected.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(expected, launcher.vmOptions);
        EXPECT_EQ(c.stackSize, launcher.mainThreadStackSize);
    }
}

TEST(UserParameters, AdditiveSectionValue) {
    fake::addFile("C:\\App\\app.jar");
    writeIni(
        "[Class Path]\nClass Path=app.jar\n"
        "[Java Runtime Environment+]\nVirtual Machine Parameters=-Dfrom=plus\n");
    Launcher launcher;
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ((Strings{"-Djava.class.path=C:\\App\\app.jar", "-Dsun.java.command=", "-Dfrom=plus"}), launcher.vmOptions);
}

TEST(StreamTargetsAndCmd, ReadExpandedAfterTheOptions) {
    fake::system().environment = {{"TEMP", "C:\\Temp"}};
    fake::addFile("C:\\App\\app.jar");
    writeIni(
        "[Class Path]\nClass Path=app.jar\n"
        "[Application]\nOutput File=%TEMP%\\out.txt\nError File=err.txt\n"
        "Cmd=%TEMP%\\in.txt \"\" x\n");
    Launcher launcher;
    launcher.arguments = {"first", ""};
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ("C:\\Temp\\out.txt", launcher.outputFile);
    EXPECT_EQ("err.txt", launcher.errorFile);
    EXPECT_EQ((Strings{"first", "", "C:\\Temp\\in.txt", "x"}), launcher.arguments);
}

TEST(StreamTargetsAndCmd, AbsentKeysChangeNothing) {
    fake::addFile("C:\\App\\app.jar");
    writeIni("[Class Path]\nClass Path=app.jar\n");
    Launcher launcher;
    launcher.arguments = {"a"};
    ASSERT_TRUE(assembleVmOptions(launcher));
    EXPECT_EQ("", launcher.outputFile);
    EXPECT_EQ("", launcher.errorFile);
    EXPECT_EQ(Strings{"a"}, launcher.arguments);
}

}  // namespace
}  // namespace qn
