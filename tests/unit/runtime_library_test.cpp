#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "vm/jdk11_init_args.h"
#include "vm/main_invocation.h"
#include "vm/runtime_library.h"

namespace qn {
namespace {

const char* const kLibrary = "C:\\Java\\jre\\bin\\client\\jvm.dll";

using OutputHook = jint(JNICALL*)(FILE*, const char*, va_list);
using ExitHook = void(JNICALL*)(jint);
using AbortHook = void(JNICALL*)();

// The hooks a runtime was handed, called as a runtime calls them.
struct Hooks {
    OutputHook output = nullptr;
    ExitHook exit = nullptr;
    AbortHook abort = nullptr;

    void print(const char* format, ...) const {
        va_list args;
        va_start(args, format);
        output(stderr, format, args);
        va_end(args);
    }
};

// What the fake runtime entry points were handed, and what they answer.
struct FakeRuntime {
    jint createResult = JNI_ERR;
    int createCalls = 0;
    jint version = 0;
    jboolean ignoreUnrecognized = JNI_TRUE;
    std::vector<std::string> options;
    std::vector<bool> extraInfo;  // per option: extraInfo set
    Hooks hooks;
    std::function<void(const Hooks&)> duringCreation;  // what the runtime does before it answers
    jint defaultStackSize = 0;
    Jdk11InitArgs defaultRequest{};
    int defaultCalls = 0;
};

FakeRuntime& runtime() {
    static FakeRuntime instance;
    return instance;
}

jint JNICALL fakeCreate(JavaVM** vm, void** env, void* rawArgs) {
    FakeRuntime& fake = runtime();
    ++fake.createCalls;
    const auto* args = static_cast<const JavaVMInitArgs*>(rawArgs);
    fake.version = args->version;
    fake.ignoreUnrecognized = args->ignoreUnrecognized;
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption& option = args->options[i];
        fake.options.emplace_back(option.optionString);
        fake.extraInfo.push_back(option.extraInfo != nullptr);
        const std::string name = option.optionString;
        if (name == "vfprintf") fake.hooks.output = reinterpret_cast<OutputHook>(option.extraInfo);
        if (name == "exit") fake.hooks.exit = reinterpret_cast<ExitHook>(option.extraInfo);
        if (name == "abort") fake.hooks.abort = reinterpret_cast<AbortHook>(option.extraInfo);
    }
    if (fake.duringCreation) fake.duringCreation(fake.hooks);
    // A failing runtime may still scribble on the out-parameters. A succeeding one gives none,
    // so that the launcher's teardown has nothing to destroy.
    const bool failing = fake.createResult != JNI_OK;
    *vm = failing ? reinterpret_cast<JavaVM*>(0x1) : nullptr;
    *env = failing ? reinterpret_cast<void*>(0x1) : nullptr;
    return fake.createResult;
}

jint JNICALL fakeDefaults(void* rawArgs) {
    FakeRuntime& fake = runtime();
    ++fake.defaultCalls;
    auto* args = static_cast<Jdk11InitArgs*>(rawArgs);
    fake.defaultRequest = *args;
    args->javaStackSize = fake.defaultStackSize;
    return JNI_ERR;  // the result is not looked at
}

class RuntimeLibrary : public testing::Test {
protected:
    void SetUp() override {
        runtime() = FakeRuntime{};
        launcher.jvmLibraryPath = kLibrary;
        launcher.createJavaVmProc = fakeCreate;
        launcher.defaultInitArgsProc = fakeDefaults;
    }

    void addLibrary(bool create, bool defaults) {
        fake::FakeLibrary& library = fake::system().libraries[kLibrary];
        if (create) library.symbols["JNI_CreateJavaVM"] = reinterpret_cast<void*>(&fakeCreate);
        if (defaults) library.symbols["JNI_GetDefaultJavaVMInitArgs"] = reinterpret_cast<void*>(&fakeDefaults);
    }

    Launcher launcher;
};

TEST_F(RuntimeLibrary, MissingLibraryGives222WithPathAndSystemError) {
    launcher.createJavaVmProc = nullptr;
    EXPECT_FALSE(loadRuntimeLibrary(launcher));
    EXPECT_EQ(std::vector<std::string>{"Failed to load Java VM library: C:\\Java\\jre\\bin\\client\\jvm.dll "
                                       "(errno = 126).\n"},
              fake::system().errorBoxes);
}

TEST_F(RuntimeLibrary, MissingEntryPointsGive202With212) {
    for (const auto& exports : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
        SCOPED_TRACE(std::to_string(exports.first) + std::to_string(exports.second));
        fake::reset();
        addLibrary(exports.first, exports.second);
        Launcher fresh;
        fresh.jvmLibraryPath = kLibrary;
        EXPECT_FALSE(loadRuntimeLibrary(fresh));
        EXPECT_EQ(std::vector<std::string>{"Windows exception: cannot find CreateJavaVM JNI (errno = 127).\n"},
                  fake::system().errorBoxes);
    }
}

// dlopen and dlsym give a text and no error number: the Linux messages carry that text.
TEST_F(RuntimeLibrary, SystemReasonTextReplacesTheErrorNumber) {
    fake::system().lastErrorText = "jvm.dll: invalid ELF header";
    Launcher fresh;
    fresh.jvmLibraryPath = kLibrary;
    EXPECT_FALSE(loadRuntimeLibrary(fresh));
    addLibrary(true, false);
    fake::system().lastErrorText = "undefined symbol: JNI_GetDefaultJavaVMInitArgs";
    EXPECT_FALSE(loadRuntimeLibrary(fresh));
    EXPECT_EQ((std::vector<std::string>{
                  "Failed to load Java VM library: C:\\Java\\jre\\bin\\client\\jvm.dll "
                  "(jvm.dll: invalid ELF header).\n",
                  "System error: cannot find CreateJavaVM JNI (undefined symbol: JNI_GetDefaultJavaVMInitArgs).\n"}),
              fake::system().errorBoxes);
    for (const std::string& box : fake::system().errorBoxes) {
        EXPECT_EQ(std::string::npos, box.find("Windows")) << box;
        EXPECT_EQ(std::string::npos, box.find("errno")) << box;
    }
}

TEST_F(RuntimeLibrary, BothEntryPointsAreKept) {
    addLibrary(true, true);
    Launcher fresh;
    fresh.jvmLibraryPath = kLibrary;
    EXPECT_TRUE(loadRuntimeLibrary(fresh));
    EXPECT_EQ(&fakeCreate, fresh.createJavaVmProc);
    EXPECT_EQ(&fakeDefaults, fresh.defaultInitArgsProc);
    EXPECT_TRUE(fake::system().errorBoxes.empty());
}

// The hooks first: the runtime reads its options in order, and may refuse one before a later hook.
TEST_F(RuntimeLibrary, CreationGetsTheHooksThenTheOptionsInOrder) {
    launcher.vmOptions = {"-Djava.class.path=C:\\App\\app.jar", "-Xmx512m", "-Dx=\xe9"};
    createJavaVm(launcher);
    EXPECT_EQ(1, runtime().createCalls);
    EXPECT_EQ(JNI_VERSION_1_2, runtime().version);
    EXPECT_EQ(JNI_FALSE, runtime().ignoreUnrecognized);
    std::vector<std::string> expected{"vfprintf", "exit", "abort"};
    expected.insert(expected.end(), launcher.vmOptions.begin(), launcher.vmOptions.end());
    EXPECT_EQ(expected, runtime().options);
    EXPECT_EQ((std::vector<bool>{true, true, true, false, false, false}), runtime().extraInfo);
}

TEST_F(RuntimeLibrary, RuntimeEndingTheProcessDuringCreationIsShownWithItsWords) {
    const std::string prefix = "JNI exception: failed to create the Java VM\nReason: ";
    const struct {
        const char* name;
        std::function<void(const Hooks&)> runtimeDoes;
        std::vector<std::string> boxes;
    } cases[] = {
        {"heap too large, then abort",
         [](const Hooks& h) {
             h.print("Error occurred during initialization of VM\n");
             h.print("Could not reserve enough space for %dKB object heap\n", 2097152);
             h.abort();
         },
         {prefix + "Error occurred during initialization of VM\n"
                   "Could not reserve enough space for 2097152KB object heap.\n"}},
        {"exit with a failure code", [](const Hooks& h) { h.print("%s\n", "bad"); h.exit(1); },
         {prefix + "bad.\n"}},
        {"nothing said", [](const Hooks& h) { h.exit(3); }, {prefix + "unknown.\n"}},
        {"shown once when exit and abort both come", [](const Hooks& h) { h.print("x"); h.exit(1); h.abort(); },
         {prefix + "x.\n"}},
        {"an agent ending the start on purpose", [](const Hooks& h) { h.exit(0); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        runtime() = FakeRuntime{};
        runtime().createResult = JNI_OK;
        runtime().duringCreation = c.runtimeDoes;
        EXPECT_TRUE(createJavaVm(launcher));  // a real runtime never returns from the hooks' end
        EXPECT_EQ(c.boxes, fake::system().errorBoxes);
    }
}

// The runtime refuses an option in its own words; its result code says far less. With per-user
// options in use, the box names their file.
TEST_F(RuntimeLibrary, AFailedCreationShowsWhatTheRuntimeSaid) {
    const std::string failed = "JNI exception: failed to create the Java VM\nReason: ";
    const struct {
        const char* name;
        bool perUser;
        jint result;
        std::function<void(const Hooks&)> runtimeDoes;
        std::string box;
    } cases[] = {
        {"every piece joined, without the blank lines around", false, JNI_ERR,
         [](const Hooks& h) {
             h.print("\n\nOpenJDK 64-Bit Server VM warning: ");
             h.print("%s\n", "Ignoring option X");
             h.print("Unrecognized option: %s\n\n", "-Xfoo");
         },
         failed + "OpenJDK 64-Bit Server VM warning: Ignoring option X\nUnrecognized option: -Xfoo.\n"},
        {"bounded", false, JNI_ENOMEM, [](const Hooks& h) { h.print("%s\n", std::string(3000, 'w').c_str()); },
         failed + std::string(2048, 'w') + "....\n"},
        {"a refused per-user -XX option, named by its name alone", true, JNI_ERR,
         [](const Hooks& h) { h.print("Unrecognized VM option 'Flag'\n"); },
         failed + "Unrecognized VM option 'Flag'.\nThe option -XX:+Flag comes from C:\\U\\app.ini.\n"},
        {"a heap it cannot reserve for per-user options", true, JNI_OK,
         [](const Hooks& h) { h.print("Could not reserve\n"); h.abort(); },
         failed + "Could not reserve.\nThese options come from C:\\U\\app.ini: -XX:+Flag -Xmx1g\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        runtime() = FakeRuntime{};
        runtime().createResult = c.result;
        runtime().duringCreation = c.runtimeDoes;
        launcher.perUserOptionsFile = c.perUser ? "C:\\U\\app.ini" : "";
        launcher.perUserVmOptions = c.perUser ? std::vector<std::string>{"-XX:+Flag", "-Xmx1g"} : std::vector<std::string>{};
        EXPECT_EQ(c.result == JNI_OK, createJavaVm(launcher));  // an abort ends a real one before
        EXPECT_EQ(std::vector<std::string>{c.box}, fake::system().errorBoxes);
    }
}

TEST_F(RuntimeLibrary, RuntimeOutputIsPassedOnAndKeptOnlyDuringCreation) {
    runtime().createResult = JNI_OK;
    runtime().duringCreation = [](const Hooks& h) { h.print("%s %d%c", "warning", 7, '\n'); };
    ASSERT_TRUE(createJavaVm(launcher));
    const Hooks hooks = runtime().hooks;
    ASSERT_TRUE(hooks.output && hooks.exit && hooks.abort);
    // The running program prints and ends itself: its words go on, its exit code stays its own.
    hooks.print("later %s\n", "text");
    hooks.exit(5);
    hooks.abort();
    EXPECT_TRUE(fake::system().errorBoxes.empty());
    const std::vector<std::pair<void*, std::string>> expected{{stderr, "warning 7\n"}, {stderr, "later text\n"}};
    EXPECT_EQ(expected, fake::system().runtimeText);

    // A later creation does not show what an earlier one said.
    fake::reset();
    runtime().duringCreation = [](const Hooks& h) { h.abort(); };
    ASSERT_TRUE(createJavaVm(launcher));
    EXPECT_EQ(std::vector<std::string>{"JNI exception: failed to create the Java VM\nReason: unknown.\n"},
              fake::system().errorBoxes);
}

TEST_F(RuntimeLibrary, LongRuntimeOutputIsPassedOnWhole) {
    const std::string line(5000, 'w');
    runtime().createResult = JNI_OK;
    runtime().duringCreation = [&line](const Hooks& h) { h.print("%s|%s\n", line.c_str(), line.c_str()); };
    ASSERT_TRUE(createJavaVm(launcher));
    ASSERT_EQ(1u, fake::system().runtimeText.size());
    EXPECT_EQ(line + "|" + line + "\n", fake::system().runtimeText[0].second);
}

TEST_F(RuntimeLibrary, DependenciesComeFromTheRuntimesBinFolder) {
    addLibrary(true, true);
    ASSERT_TRUE(loadRuntimeLibrary(launcher));
    EXPECT_EQ(std::vector<std::string>{std::string(kLibrary) + " with C:\\Java\\jre\\bin"},
              fake::system().runtimeLibraryLoads);
}

TEST_F(RuntimeLibrary, FailedCreationShows203WithTheReasonAndLeavesNoVm) {
    const struct {
        jint result;
        const char* reason;
    } cases[] = {
        {JNI_ERR, "unknown"},           {JNI_EDETACHED, "thread detached from VM"},
        {JNI_EVERSION, "JNI version error"}, {JNI_ENOMEM, "not enough memory"},
        {JNI_EEXIST, "VM already created"}, {JNI_EINVAL, "invalid arguments"},
        {-7, ""},                       {1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        fake::reset();
        runtime().createResult = c.result;
        EXPECT_FALSE(createJavaVm(launcher));
        EXPECT_EQ(nullptr, launcher.javaVm);
        EXPECT_EQ(nullptr, launcher.jniEnv);
        EXPECT_EQ(std::vector<std::string>{std::string("JNI exception: failed to create the Java VM\nReason: ") +
                                           c.reason + ".\n"},
                  fake::system().errorBoxes);
    }
}

TEST_F(RuntimeLibrary, FailedCreationIsShownOwnedByTheMessageOwner) {
    int window = 0;
    launcher.messageOwner = &window;
    createJavaVm(launcher);
    EXPECT_EQ(std::vector<platform::WindowHandle>{&window}, fake::system().errorBoxOwners);
}

TEST_F(RuntimeLibrary, DefaultStackSizeIsAskedWithAZeroedJdk11Record) {
    runtime().defaultStackSize = 2 * 1024 * 1024;
    EXPECT_EQ(1u, runJavaMainThread(launcher));  // creation fails: exit code 1
    EXPECT_EQ(1, runtime().defaultCalls);
    EXPECT_EQ(JNI_VERSION_1_1, runtime().defaultRequest.version);
    EXPECT_EQ(0, runtime().defaultRequest.javaStackSize);
    EXPECT_EQ(nullptr, runtime().defaultRequest.properties);
    EXPECT_EQ(0, runtime().defaultRequest.maxHeapSize);
    EXPECT_EQ(2u * 1024 * 1024, launcher.mainThreadStackSize);
    EXPECT_EQ(std::vector<std::uint32_t>{2 * 1024 * 1024}, fake::system().threadStackSizes);
    EXPECT_EQ(1, runtime().createCalls);  // the thread created the VM
}

TEST_F(RuntimeLibrary, ConfiguredStackSizeIsNotAskedFor) {
    launcher.mainThreadStackSize = 524288;
    runJavaMainThread(launcher);
    EXPECT_EQ(0, runtime().defaultCalls);
    EXPECT_EQ(std::vector<std::uint32_t>{524288}, fake::system().threadStackSizes);
}

TEST_F(RuntimeLibrary, NonPositiveDefaultMeansTheExecutablesDefault) {
    for (jint reported : {0, -1}) {
        SCOPED_TRACE(reported);
        fake::reset();
        runtime().defaultStackSize = reported;
        launcher.mainThreadStackSize = 0;
        runJavaMainThread(launcher);
        EXPECT_EQ(0u, launcher.mainThreadStackSize);
        EXPECT_EQ(std::vector<std::uint32_t>{0}, fake::system().threadStackSizes);
    }
}

TEST_F(RuntimeLibrary, RefusedThreadRunsTheWorkOnTheCallingThread) {
    fake::system().refuseThreads = true;
    EXPECT_EQ(1u, runJavaMainThread(launcher));
    EXPECT_EQ(1, runtime().createCalls);
    EXPECT_TRUE(fake::system().threadStackSizes.empty());
    EXPECT_EQ(1u, fake::system().errorBoxes.size());
}

TEST(JavaMainThreadBody, NullLauncherGivesOne) { EXPECT_EQ(1u, javaMainThreadBody(nullptr)); }

}  // namespace
}  // namespace qn
