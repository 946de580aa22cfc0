#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "splash/splash.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";
const char* const kJvm = "C:\\Java\\jre\\bin\\client\\jvm.dll";
const char* const kSplashDll = "C:\\Java\\jre\\bin\\splashscreen.dll";

// What the runtime's splash library was asked, in order.
std::vector<std::string>& nativeCalls() {
    static std::vector<std::string> calls;
    return calls;
}
void nativeInit() { nativeCalls().push_back("init"); }
int nativeLoadResult = 1;  // what SplashLoadFile answers: 0 for a picture it cannot decode
int nativeLoadFile(const char* path) {
    nativeCalls().push_back(std::string("load ") + path);
    return nativeLoadResult;
}
void nativeSetFileJarName(const char* path, const char* jar) {
    nativeCalls().push_back(std::string("jar ") + path + "|" + jar);
}
void nativeClose() { nativeCalls().push_back("close"); }

void* symbol(void (*function)()) { return reinterpret_cast<void*>(function); }

class SplashTest : public testing::Test {
protected:
    void SetUp() override {
        nativeCalls().clear();
        nativeLoadResult = 1;
    }

    static void writeDisplay(const std::string& picture, const std::string& shadow = "",
                             const std::string& preferNative = "") {
        fake::addFile(kIni, "[Display]\nSplash Screen=" + picture + "\nSplash Screen Shadow=" +
                                shadow + "\nPreffer Native Splash Screen=" + preferNative + "\n");
    }

    // A runtime whose splash library exports the named entry points.
    static void addSplashLibrary(const std::string& path, const std::vector<std::string>& names) {
        fake::addFile(path);
        fake::FakeLibrary& library = fake::system().libraries[path];
        for (const auto& name : names) {
            if (name == "SplashInit") library.symbols[name] = symbol(nativeInit);
            if (name == "SplashLoadFile") library.symbols[name] = reinterpret_cast<void*>(nativeLoadFile);
            if (name == "SplashSetFileJarName")
                library.symbols[name] = reinterpret_cast<void*>(nativeSetFileJarName);
            if (name == "SplashClose") library.symbols[name] = symbol(nativeClose);
        }
    }
    static void addFullSplashLibrary(const std::string& path = kSplashDll) {
        addSplashLibrary(path, {"SplashInit", "SplashLoadFile", "SplashSetFileJarName", "SplashClose"});
    }

    static std::unique_ptr<Launcher> launcherFor(const std::string& jvm = kJvm) {
        auto launcher = std::make_unique<Launcher>();
        launcher->jvmLibraryPath = jvm;
        return launcher;
    }

    static std::vector<std::string> events() { return fake::system().splashEvents; }
    static const std::vector<std::string> ownWindow(const std::string& picture, bool shadow = false) {
        return {"new", "create " + picture + (shadow ? " shadow" : " plain"), "run"};
    }
    static const std::vector<std::string> nativeShown(const std::string& picture) {
        return {"init", "load " + picture, "jar " + picture + "|"};
    }
};

TEST_F(SplashTest, FailsOnlyWithoutAConfigurationPath) {
    fake::system().modulePath = std::string("C:\\App\\app");  // no dot
    auto launcher = launcherFor();
    EXPECT_FALSE(startSplash(*launcher));
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(fake::system().errorBoxes.empty());

    fake::system().modulePath.reset();  // the executable's path cannot be learnt
    EXPECT_FALSE(startSplash(*launcher));
    EXPECT_EQ(1u, fake::system().errorBoxes.size());
    EXPECT_TRUE(events().empty());
}

TEST_F(SplashTest, EmptyPictureShowsNothingWhateverTheOtherKeysSay) {
    addFullSplashLibrary();
    for (const char* content : {"", "[Display]\nSplash Screen=\nPreffer Native Splash Screen=Yes\n",
                                "[Display]\nSplash Screen Shadow=true\n",
                                "[Display+]\nSplash Screen=C:\\App\\pic.bmp\n"}) {
        SCOPED_TRACE(content);
        fake::addFile(kIni, content);
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_FALSE(launcher->splashWindow);
        EXPECT_EQ(nullptr, launcher->nativeSplashClose);
    }
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(nativeCalls().empty());
    EXPECT_TRUE(fake::system().splashLibraryLoads.empty());
}

TEST_F(SplashTest, ReadsTheDisplayKeysOnlyFromThePlainSection) {
    fake::addFile(kIni,
                  "[Display]\nSplash Screen=pic.gif\n"
                  "[Display+]\nSplash Screen Shadow=true\nPreffer Native Splash Screen=Yes\n");
    addFullSplashLibrary();
    auto launcher = launcherFor();
    EXPECT_TRUE(startSplash(*launcher));
    EXPECT_EQ("pic.gif", launcher->splashImagePath);
    EXPECT_EQ("", launcher->splashShadowText);
    EXPECT_EQ(ownWindow("pic.gif"), events());
}

TEST_F(SplashTest, NativeLibraryPathWithWindowsConventions) {
    const struct {
        const char* jvm;
        const char* searched;  // null: nothing is looked up
    } cases[] = {
        {"C:\\Java\\jre\\bin\\client\\jvm.dll", "C:\\Java\\jre\\bin\\splashscreen.dll"},
        {"C:\\Java\\jre\\bin\\server\\jvm.dll", "C:\\Java\\jre\\bin\\splashscreen.dll"},
        {"C:\\Java\\bin\\\\client\\jvm.dll", "C:\\Java\\bin\\splashscreen.dll"},
        {"C:\\Java\\bin/\\client\\jvm.dll", "C:\\Java\\bin/splashscreen.dll"},
        {"C:\\jvm.dll", "C:\\splashscreen.dll"},
        {"jvm.dll", "jvm.dll\\splashscreen.dll"},
        {"C:/Java/bin/client/jvm.dll", "C:/Java/bin/client/jvm.dll\\splashscreen.dll"},
        {"\\client\\jvm.dll", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.jvm);
        fake::system().searchedPaths.clear();
        fake::system().files.clear();
        EXPECT_EQ("", nativeSplashLibraryPath(c.jvm));
        if (!c.searched) {
            EXPECT_TRUE(fake::system().searchedPaths.empty());
            continue;
        }
        EXPECT_EQ(std::vector<std::string>{c.searched}, fake::system().searchedPaths);
        fake::addFile(c.searched);
        EXPECT_EQ(c.searched, nativeSplashLibraryPath(c.jvm));
    }
}

TEST_F(SplashTest, NativeLibraryPathWithPosixConventions) {
    fake::system().conventions = &posixConventions();
    const struct {
        const char* jvm;
        const char* library;
    } cases[] = {
        {"/usr/lib/jvm/jdk17/lib/server/libjvm.so", "/usr/lib/jvm/jdk17/lib/libsplashscreen.so"},
        {"/opt/jdk8/jre/lib/amd64/server/libjvm.so", "/opt/jdk8/jre/lib/amd64/libsplashscreen.so"},
        {"/lib//libjvm.so", "/lib/libsplashscreen.so"},
        {"/server/libjvm.so", nullptr},
        {"C:\\Java\\bin\\client\\jvm.dll", "C:\\Java\\bin\\client\\jvm.dll/libsplashscreen.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.jvm);
        fake::system().searchedPaths.clear();
        if (!c.library) {
            EXPECT_EQ("", nativeSplashLibraryPath(c.jvm));
            EXPECT_TRUE(fake::system().searchedPaths.empty());
            continue;
        }
        EXPECT_EQ("", nativeSplashLibraryPath(c.jvm));
        fake::addFile(c.library);
        EXPECT_EQ(c.library, nativeSplashLibraryPath(c.jvm));
    }
}

TEST_F(SplashTest, PreferNativeAnyCaseYesUsesTheRuntimesLibrary) {
    addFullSplashLibrary();
    for (const char* yes : {"Yes", "yes", "YES", "yEs"}) {
        SCOPED_TRACE(yes);
        nativeCalls().clear();
        writeDisplay("C:\\App\\pic.bmp", "true", yes);
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_EQ(nativeShown("C:\\App\\pic.bmp"), nativeCalls());
        EXPECT_FALSE(launcher->splashWindow);
        EXPECT_FALSE(launcher->splashThread);
        EXPECT_EQ(symbol(nativeClose), reinterpret_cast<void*>(launcher->nativeSplashClose));
        launcher->nativeSplashClose = nullptr;
    }
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(std::string(kSplashDll) + " after " + kJvm, fake::system().splashLibraryLoads.at(0));
}

TEST_F(SplashTest, OwnWindowUnlessNativeIsAskedForAndAvailable) {
    const struct {
        const char* preferNative;
        bool libraryPresent;
    } cases[] = {
        {"", true}, {"no", true}, {"true", true}, {"Yes ", false}, {"Yes", false}, {"Y", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.preferNative) + (c.libraryPresent ? " with library" : ""));
        fake::reset();
        if (c.libraryPresent) addFullSplashLibrary();
        writeDisplay("pic.jpg", "", c.preferNative);
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_EQ(ownWindow("pic.jpg"), events());
        EXPECT_TRUE(launcher->splashWindow);
        EXPECT_EQ(nullptr, launcher->nativeSplashClose);
    }
    EXPECT_TRUE(nativeCalls().empty());
}

TEST_F(SplashTest, IncompleteOrUnloadableLibraryFallsBackToTheOwnWindow) {
    const struct {
        const char* name;
        std::vector<std::string> exports;
        bool loads;
        bool closeKept;
    } cases[] = {
        {"no SplashInit", {"SplashLoadFile", "SplashSetFileJarName", "SplashClose"}, true, true},
        {"no SplashLoadFile", {"SplashInit", "SplashSetFileJarName", "SplashClose"}, true, true},
        {"no SplashSetFileJarName", {"SplashInit", "SplashLoadFile", "SplashClose"}, true, true},
        {"nothing exported", {}, true, false},
        {"does not load", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        addSplashLibrary(kSplashDll, c.exports);
        if (!c.loads) fake::system().libraries.erase(kSplashDll);
        writeDisplay("pic.bmp", "", "Yes");
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_EQ(ownWindow("pic.bmp"), events());
        // The library stays loaded, so its close function is still the one to call at the end.
        EXPECT_EQ(c.closeKept ? symbol(nativeClose) : nullptr,
                  reinterpret_cast<void*>(launcher->nativeSplashClose));
        launcher->nativeSplashClose = nullptr;
        EXPECT_TRUE(fake::system().errorBoxes.empty());
    }
    EXPECT_TRUE(nativeCalls().empty());
}

TEST_F(SplashTest, NativeSplashWithoutCloseFunctionStillCounts) {
    addSplashLibrary(kSplashDll, {"SplashInit", "SplashLoadFile", "SplashSetFileJarName"});
    writeDisplay("pic.bmp", "", "yes");
    auto launcher = launcherFor();
    EXPECT_TRUE(startSplash(*launcher));
    EXPECT_EQ(nativeShown("pic.bmp"), nativeCalls());
    EXPECT_EQ(nullptr, launcher->nativeSplashClose);
    EXPECT_TRUE(events().empty());
}

TEST_F(SplashTest, NativeSplashIsClosedOnceAndNeverTwice) {
    addFullSplashLibrary();
    writeDisplay("pic.bmp", "", "Yes");
    {
        auto launcher = launcherFor();
        ASSERT_TRUE(startSplash(*launcher));
        closeNativeSplash(*launcher);
        EXPECT_EQ(nullptr, launcher->nativeSplashClose);
        closeNativeSplash(*launcher);
        EXPECT_EQ(1, std::count(nativeCalls().begin(), nativeCalls().end(), "close"));
    }  // teardown finds nothing left to close
    EXPECT_EQ(1, std::count(nativeCalls().begin(), nativeCalls().end(), "close"));

    nativeCalls().clear();
    {
        auto launcher = launcherFor();
        ASSERT_TRUE(startSplash(*launcher));
    }  // teardown closes it
    EXPECT_EQ("close", nativeCalls().back());
    EXPECT_EQ(1, std::count(nativeCalls().begin(), nativeCalls().end(), "close"));
}

TEST_F(SplashTest, RestartingTheNativeSplashClosesTheEarlierOne) {
    addFullSplashLibrary();
    writeDisplay("pic.bmp", "", "Yes");
    auto launcher = launcherFor();
    launcher->splashImagePath = "pic.bmp";
    ASSERT_TRUE(startNativeSplash(kSplashDll, *launcher));
    ASSERT_TRUE(startNativeSplash(kSplashDll, *launcher));
    const std::vector<std::string> expected = {"init", "load pic.bmp", "jar pic.bmp|", "close",
                                               "init", "load pic.bmp", "jar pic.bmp|"};
    EXPECT_EQ(expected, nativeCalls());
    EXPECT_NE(nullptr, launcher->nativeSplashClose);
}

TEST_F(SplashTest, OwnWindowRunsOnItsThreadAndOwnsLaterMessages) {
    writeDisplay("C:\\App\\pic.bmp");
    fake::system().nextThreadId = 4242;
    auto launcher = launcherFor();
    EXPECT_TRUE(startSplash(*launcher));
    EXPECT_EQ(ownWindow("C:\\App\\pic.bmp"), events());
    EXPECT_EQ(std::vector<std::uint32_t>{0}, fake::system().threadStackSizes);  // default stack
    EXPECT_EQ(4242u, launcher->splashThreadId);
    EXPECT_EQ(fake::system().splashWindowHandle, launcher->messageOwner);
}

TEST_F(SplashTest, ShadowOnlyForExactlyTrue) {
    const struct {
        const char* text;
        bool shadow;
    } cases[] = {
        {"true", true}, {"True", false}, {"TRUE", false}, {"yes", false}, {"", false}, {"1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset();
        writeDisplay("pic.bmp", c.text);
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_EQ(c.text, launcher->splashShadowText);
        EXPECT_EQ(ownWindow("pic.bmp", c.shadow), events());
    }
}

TEST_F(SplashTest, WindowThatCannotBeMadeOrStartedLeavesNoSplash) {
    writeDisplay("pic.bmp");
    {
        fake::system().refuseSplashWindow = true;
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_TRUE(fake::system().threadStackSizes.empty());  // no thread without the object
        EXPECT_FALSE(launcher->splashWindow);
    }
    fake::reset();
    writeDisplay("pic.bmp");
    {
        fake::system().refuseThreads = true;
        auto launcher = launcherFor();
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_FALSE(launcher->splashWindow);
        EXPECT_FALSE(launcher->splashThread);
        EXPECT_EQ(nullptr, launcher->messageOwner);
        EXPECT_EQ((std::vector<std::string>{"new", "delete"}), events());
    }
    EXPECT_EQ((std::vector<std::string>{"new", "delete"}), events());  // teardown posts nothing
}

TEST_F(SplashTest, FailedWindowCreationLeavesTheOwnerUnset) {
    fake::system().splashWindowHandle = nullptr;
    writeDisplay("missing.bmp");
    auto launcher = launcherFor();
    EXPECT_TRUE(startSplash(*launcher));
    EXPECT_EQ(ownWindow("missing.bmp"), events());
    EXPECT_EQ(nullptr, launcher->messageOwner);
}

TEST_F(SplashTest, ClosingPostsQuitUntilTheThreadEndedThenDropsTheWindow) {
    writeDisplay("pic.bmp");
    auto launcher = launcherFor();
    closeSplashWindow(*launcher);  // nothing to close
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(0u, fake::system().threadActivityQueries);

    ASSERT_TRUE(startSplash(*launcher));
    const auto owner = launcher->messageOwner;
    closeSplashWindow(*launcher);
    std::vector<std::string> expected = ownWindow("pic.bmp");
    expected.push_back("quit 100");
    expected.push_back("delete");
    EXPECT_EQ(expected, events());
    EXPECT_EQ(1u, fake::system().threadActivityQueries);
    EXPECT_FALSE(launcher->splashWindow);
    EXPECT_FALSE(launcher->splashThread);
    EXPECT_EQ(owner, launcher->messageOwner);  // keeps the old handle

    closeSplashWindow(*launcher);  // a second close (teardown after the main thread) does nothing
    EXPECT_EQ(expected, events());
}

// Linux takes the runtime's library, when asked for, only when it is there (both choices shown:
// the jvm tests); the trace says why it shows nothing.
TEST_F(SplashTest, PosixTracesWhyTheRuntimesLibraryShowsNothing) {
    nativeLoadResult = 0;  // a picture the library cannot decode
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present ? "a library that cannot show the picture" : "no library");
        fake::reset();
        nativeCalls().clear();
        fake::system().conventions = &posixConventions();
        fake::system().modulePath = std::string("/opt/app/app");
        fake::startTrace();
        if (present) addFullSplashLibrary("/jdk/lib/libsplashscreen.so");
        fake::addFile("/opt/app/app.ini", "[Display]\nSplash Screen=/opt/app/pic.png\nPreffer Native Splash Screen=Yes\n");
        auto launcher = launcherFor("/jdk/lib/server/libjvm.so");
        EXPECT_TRUE(startSplash(*launcher));
        EXPECT_EQ(present ? nativeShown("/opt/app/pic.png") : std::vector<std::string>{}, nativeCalls());
        EXPECT_EQ(present ? std::vector<std::string>{} : ownWindow("/opt/app/pic.png"), events());
        const std::vector<std::string> lines = fake::tracedLines();
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                         present ? "splash: the runtime's library /jdk/lib/libsplashscreen.so cannot show "
                                                   "/opt/app/pic.png (it shows GIF, PNG and JPEG files that exist)"
                                                 : "splash: no splash library beside the runtime"));
        closeSplashWindow(*launcher);
        launcher->nativeSplashClose = nullptr;
    }
}

// The run phase decides on the switches; the runtime library then fails to load, so the error box
// shows while the splash is up, and teardown closes the splash.
TEST_F(SplashTest, RunPhaseSwitchesAndTheOwnerOfItsErrorBoxes) {
    const struct {
        std::vector<std::string> arguments;
        bool shown;
    } cases[] = {
        {{}, true},
        {{"file.txt", "-nosplash"}, false},
        {{"/nosplash"}, false},
        {{"-nosplash", "/nosplash"}, false},
        {{"-NOSPLASH"}, true},
        {{"-NoSplash", "/NOSPLASH"}, true},
        {{"--nosplash", "-nosplash "}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        fake::reset();
        writeDisplay("pic.bmp");
        {
            auto launcher = launcherFor();
            launcher->arguments = c.arguments;
            EXPECT_EQ(-1, launcher->run());
            EXPECT_EQ(c.arguments, launcher->arguments);  // the switch is passed on
            ASSERT_EQ(1u, fake::system().errorBoxOwners.size());
            EXPECT_EQ(c.shown ? fake::system().splashWindowHandle : nullptr,
                      fake::system().errorBoxOwners[0]);
        }
        std::vector<std::string> expected;
        if (c.shown) {
            expected = ownWindow("pic.bmp");
            expected.push_back("quit 100");
            expected.push_back("delete");
        }
        EXPECT_EQ(expected, events());
    }
}

}  // namespace
}  // namespace qn
