#include <gtest/gtest.h>

#include <jni.h>

#include <cstdarg>
#include <cstring>
#include <deque>
#include <memory>

#include "fake_instance_channel.h"
#include "fake_platform.h"
#include "instance/instance_block.h"
#include "instance/instance_request.h"
#include "instance/single_instance.h"
#include "launcher/launcher.h"
#include "res/resource_ids.h"
#include "vm/launcher_error.h"

namespace qn {
namespace {

const char* const kIni = "C:\\App\\app.ini";
const char* const kName = "C:_App_app.exe";
constexpr std::uint32_t kMessage = 0xC0DE;

void writeIni(const std::string& application) {
    fake::addFile(kIni, "[Java Runtime Environment]\r\nMain Class=com/example/App\r\n[Application]\r\n" +
                            application);
}

InstanceBlock& blockOf(const std::string& name = kName) {
    return *reinterpret_cast<InstanceBlock*>(fake::channel().blocks.at(name).data());
}

// A block as a running first instance leaves it.
InstanceBlock& runningFirstInstance(std::uint32_t processId = 5000) {
    fake::channel().blocks[kName].assign(sizeof(InstanceBlock), 0);
    InstanceBlock& block = blockOf();
    block.listenerThreadId = 77;
    block.firstProcessId = processId;
    block.requestMessage = kMessage;
    fake::channel().runningInstances.insert(processId);
    return block;
}

bool contains(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

std::ptrdiff_t indexOf(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) - log.begin();
}

// --- Set-up decisions ---------------------------------------------------------------------------

TEST(SetUpSingleInstance, StaysOffUnlessExactlyYesAndNoService) {
    const struct {
        const char* application;
        bool isService;
        bool on;
    } cases[] = {
        {"Single Instance=yes\r\n", false, true},
        {"Single Instance=Yes\r\n", false, false},
        {"Single Instance=YES\r\n", false, false},
        {"Single Instance=no\r\n", false, false},
        {"Single Instance=yes please\r\n", false, false},
        {"", false, false},
        {"Single Instance=yes\r\n", true, false},
        // The additive section's value counts as written.
        {"[Application+]\r\nSingle Instance=yes\r\n", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.application);
        fake::reset();
        writeIni(c.application);
        Launcher launcher;
        launcher.isService = c.isService;
        EXPECT_TRUE(setUpSingleInstance(launcher));
        EXPECT_EQ(c.on, launcher.singleInstance);
        EXPECT_EQ(c.on, !fake::channel().blocks.empty());
        if (!c.on) {
            EXPECT_TRUE(fake::channel().turns.empty());
        }
    }
}

TEST(SetUpSingleInstance, FirstInstancePublishesItselfWhileHoldingTheTurn) {
    writeIni("Single Instance=yes\r\n");
    Launcher launcher;
    ASSERT_TRUE(setUpSingleInstance(launcher));
    EXPECT_TRUE(launcher.singleInstance);
    EXPECT_TRUE(launcher.isFirstInstance);
    EXPECT_FALSE(launcher.isSecondaryInstance());
    const InstanceBlock& block = blockOf();
    EXPECT_EQ(static_cast<void*>(launcher.instanceView), &block);
    EXPECT_EQ(41u, block.listenerThreadId);
    EXPECT_EQ(4000u, block.firstProcessId);
    EXPECT_EQ(kMessage, block.requestMessage);
    EXPECT_EQ(std::vector<std::string>{"C:_App_app.exe_upr_evt"}, fake::channel().events);
    EXPECT_NE(nullptr, launcher.mainStartedEvent);
    EXPECT_NE(nullptr, launcher.instanceListenerThread);
    EXPECT_NE(nullptr, launcher.instanceAcknowledgement);
    EXPECT_EQ(&runListener, fake::channel().listenerBody);
    EXPECT_EQ(&launcher, fake::channel().listenerParameter);
    EXPECT_EQ(std::vector<std::string>{"C:_App_app.exe_upr_mtx"}, fake::channel().turns);
    const auto& log = fake::channel().log;
    EXPECT_LT(indexOf(log, "listener"), indexOf(log, "turn-released"));
    EXPECT_EQ(0, fake::channel().turnsHeld);
    EXPECT_TRUE(fake::channel().posts.empty());
}

TEST(SetUpSingleInstance, FailuresOfTheFirstInstanceMakeAnOrdinaryLaunch) {
    struct Case {
        const char* what;
        void (*arrange)();
        bool eventKept;
    };
    const Case cases[] = {
        {"block not created", [] { fake::channel().refuseMappings = true; }, false},
        {"block not mapped", [] { fake::channel().refuseViews = true; }, false},
        {"message not registered", [] { fake::channel().registeredMessage = 0; }, true},
        {"listener not started", [] { fake::channel().refuseListener = true; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        writeIni("Single Instance=yes\r\n");
        c.arrange();
        Launcher launcher;
        EXPECT_TRUE(setUpSingleInstance(launcher));
        EXPECT_FALSE(launcher.singleInstance);
        EXPECT_FALSE(launcher.isSecondaryInstance());
        EXPECT_EQ(nullptr, launcher.instanceView);
        EXPECT_EQ(nullptr, launcher.instanceMapping);
        EXPECT_EQ(nullptr, launcher.instanceListenerThread);
        EXPECT_EQ(c.eventKept, launcher.mainStartedEvent != nullptr);
        EXPECT_TRUE(fake::channel().posts.empty());
        EXPECT_EQ(0, fake::channel().turnsHeld);
    }
}

TEST(SetUpSingleInstance, AnUnnamedEventStandsInWhenTheNamedOneFails) {
    {
        writeIni("Single Instance=yes\r\n");
        fake::channel().refuseNamedEvents = true;
        Launcher launcher;
        ASSERT_TRUE(setUpSingleInstance(launcher));
        EXPECT_TRUE(launcher.isFirstInstance);
        EXPECT_EQ(std::vector<std::string>{""}, fake::channel().events);
        EXPECT_NE(nullptr, launcher.mainStartedEvent);
    }  // the launcher's view points into the fake block: it ends before the reset frees the block

    fake::reset();
    writeIni("Single Instance=yes\r\n");
    fake::channel().refuseAllEvents = true;
    Launcher withoutEvent;
    ASSERT_TRUE(setUpSingleInstance(withoutEvent));
    EXPECT_TRUE(withoutEvent.singleInstance) << "a missing event does not stop the set-up";
    EXPECT_EQ(nullptr, withoutEvent.mainStartedEvent);
}

TEST(SetUpSingleInstance, LaterInstanceHandsOverWithItsQueueReadyAndWaitsForTheCopy) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    Launcher launcher;
    launcher.arguments = {"open", "file.txt"};
    ASSERT_TRUE(setUpSingleInstance(launcher));
    EXPECT_TRUE(launcher.isSecondaryInstance());
    EXPECT_EQ((std::vector<fake::FakePost>{{77, kMessage, 40}}), fake::channel().posts);
    EXPECT_EQ(launcher.arguments, unpackArguments(blockOf().argumentArea));
    EXPECT_TRUE(fake::channel().events.empty()) << "only the first instance makes the event";
    const auto& log = fake::channel().log;
    EXPECT_LT(indexOf(log, "queue"), indexOf(log, "post"));
    EXPECT_LT(indexOf(log, "ack-clear"), indexOf(log, "post"));
    EXPECT_LT(indexOf(log, "post"), indexOf(log, "ack-wait"));
    EXPECT_LT(indexOf(log, "ack-wait"), indexOf(log, "turn-released"));
    EXPECT_EQ(0, fake::channel().turnsHeld);
    // However slow the first instance is, neither wait gives up while it lives: a start that let
    // go of the turn early would leave a request that the next start's arguments could answer.
    EXPECT_EQ(std::vector<std::uint32_t>{platform::waitWithoutLimit}, fake::channel().turnTimeouts);
    EXPECT_EQ(std::vector<std::uint32_t>{platform::waitWithoutLimit},
              fake::channel().acknowledgementTimeouts);
}

TEST(SetUpSingleInstance, AFirstInstanceThatEndsBeforeTakingTheArgumentsLeavesTheLaterOneWaiting) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    fake::channel().firstTakesArguments = false;
    Launcher launcher;
    launcher.arguments = {"x"};
    // Its end, and so its exit code, is what the run phase then waits for.
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_TRUE(launcher.isSecondaryInstance());
    EXPECT_EQ(0, fake::channel().turnsHeld);
}

TEST(SetUpSingleInstance, LaterInstanceFailsWithoutContactWhenArgumentsDoNotFit) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    Launcher fits;
    fits.arguments = {std::string(1000, 'a'), std::string(37, 'b')};  // 1001 + 38 + 1 = 1040
    EXPECT_TRUE(setUpSingleInstance(fits));
    EXPECT_EQ(1u, fake::channel().posts.size());

    fake::channel().posts.clear();
    Launcher tooLong;
    tooLong.arguments = {std::string(1000, 'a'), std::string(38, 'b')};
    EXPECT_FALSE(setUpSingleInstance(tooLong));
    EXPECT_TRUE(tooLong.isSecondaryInstance());
    EXPECT_TRUE(fake::channel().posts.empty());
    EXPECT_EQ(std::vector<std::string>{formatError(LauncherError(IDS_INSTANCE_OTHER_VERSION))},
              fake::system().errorBoxes);
}

TEST(SetUpSingleInstance, LaterInstanceFailsWhenThePostFails) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    fake::channel().refusePosts = true;
    Launcher launcher;
    EXPECT_FALSE(setUpSingleInstance(launcher));
    EXPECT_FALSE(contains(fake::channel().log, "ack-wait"));
}

TEST(SetUpSingleInstance, AFirstInstanceOfAnotherKindIsNotWaitedFor) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    fake::channel().firstAcknowledges = false;
    Launcher launcher;
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_EQ(1u, fake::channel().posts.size());
    EXPECT_FALSE(contains(fake::channel().log, "ack-wait"));
}

TEST(SetUpSingleInstance, StaleBlockOfADeadFirstInstance) {
    const struct {
        const char* what;
        bool replaceable;
        bool turn;
        bool alive;
        bool becomesFirst;
    } cases[] = {
        {"replaced where blocks outlive their creator", true, true, false, true},
        {"taken over in place where they do not", false, true, false, true},
        {"kept without the turn: the block may be half-written", true, false, false, false},
        {"a living first instance is never replaced", true, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        writeIni("Single Instance=yes\r\n");
        runningFirstInstance();
        if (!c.alive) fake::channel().runningInstances.clear();
        fake::channel().replaceableBlocks = c.replaceable;
        fake::channel().refuseTurns = !c.turn;
        Launcher launcher;
        launcher.arguments = {"x"};
        EXPECT_TRUE(setUpSingleInstance(launcher));
        EXPECT_EQ(c.becomesFirst, launcher.isFirstInstance);
        if (c.becomesFirst) {
            EXPECT_EQ(4000u, blockOf().firstProcessId);
            EXPECT_TRUE(fake::channel().posts.empty());
        } else {
            EXPECT_EQ((std::vector<fake::FakePost>{{77, kMessage, 40}}), fake::channel().posts);
        }
    }
}

TEST(SetUpSingleInstance, ABlockNamingThisVeryProcessIsStale) {
    // The dead first instance's process id has been given to this start.
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance(4000);
    fake::channel().replaceableBlocks = true;
    Launcher launcher;
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_TRUE(launcher.isFirstInstance);
    EXPECT_TRUE(fake::channel().posts.empty());
    EXPECT_EQ(41u, blockOf().listenerThreadId);
}

TEST(SetUpSingleInstance, WithoutTheTurnALaterInstanceStillHandsOver) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    fake::channel().refuseTurns = true;
    Launcher launcher;
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_EQ(1u, fake::channel().posts.size());
    EXPECT_TRUE(contains(fake::channel().log, "ack-wait-without-turn"));
}

TEST(SetUpSingleInstance, UnknownExecutablePathMakesAnOrdinaryLaunch) {
    writeIni("Single Instance=yes\r\n");
    const std::string ini = kIni;
    Launcher launcher;
    // The configuration path was formed earlier; now the module path is gone.
    fake::system().modulePath.reset();
    fake::system().moduleError = 5;
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_FALSE(launcher.singleInstance);
    EXPECT_TRUE(fake::channel().blocks.empty());
}

TEST(InstanceExecutable, AConsoleCompanionIsNamedAfterTheProgramBesideIt) {
    fake::addFile("C:\\App\\ledger.com");
    EXPECT_EQ("C:\\App\\ledger.com", instanceExecutable("C:\\App\\ledger.com")) << "alone";
    fake::addFile("C:\\App\\Ledger.EXE");
    EXPECT_EQ("C:\\App\\Ledger.EXE", instanceExecutable("C:\\App\\ledger.COM")) << "as its folder spells it";
}

// --- Waiting in a later instance ------------------------------------------------------------------

struct WaitCase {
    const char* what;
    bool openable;
    std::deque<platform::ThreadMessage> queue;
    std::deque<std::optional<std::uint32_t>> exitCodes;
    std::int32_t result;
    std::size_t waits;
    int message = 0;          // string-table id of the error shown, 0 for none
    std::uint32_t requestId = 0;  // 0: handed over to a first instance of a launcher of before
};

TEST(WaitForFirstInstance, ResultByHowTheFirstInstanceAnswers) {
    using platform::stillActive;
    constexpr std::uint32_t kId = 0x5EED;
    const WaitCase cases[] = {
        {"a reply", true, {{kMessage, 7}}, {}, 7, 0},
        {"a reply carries a negative result", true, {{kMessage, 0xFFFFFFFEu}}, {}, -2, 0},
        {"other messages are dropped", true, {{0x1234, 9}, {kMessage, 5}}, {stillActive}, 5, 1},
        {"a reply after a while", true, {{0x1, 0}, {0x1, 0}, {kMessage, 5}}, {stillActive, stillActive}, 5, 2},
        {"the first process ends", true, {}, {stillActive, 3u}, 3, 1},
        {"the first process ends with -1", true, {}, {0xFFFFFFFFu}, -1, 0},
        {"the exit code cannot be learnt", true, {}, {stillActive, std::nullopt}, -1, 1},
        {"the first process cannot be opened", false, {}, {}, 0, 0},
        {"a reply that came before the first process went", false, {{0x1234, 1}, {kMessage, 6}}, {}, 6, 0},
        {"a reply wins over the ended process", true, {{kMessage, 4}}, {3u}, 4, 0},
        // A first instance of this version answers with the request's id.
        {"it could not read the arguments", true, {{kMessage, 0xFFFFFFFFu, ~kId}}, {}, -1, 0,
         IDS_INSTANCE_HANDOVER_FAILED, kId},
        {"it took them and is gone already", false, {}, {}, -1, 0, IDS_INSTANCE_ENDED_UNANSWERED, kId},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        runningFirstInstance();
        if (c.openable) fake::channel().openableProcesses.insert(5000);
        fake::channel().queue = c.queue;
        fake::channel().exitCodes = c.exitCodes;
        Launcher launcher;
        launcher.singleInstance = true;
        launcher.instanceView = &blockOf();
        launcher.instanceRequestId = c.requestId;
        const std::int32_t result = waitForFirstInstance(launcher);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.waits, fake::channel().waits.size());
        EXPECT_TRUE(fake::channel().sleeps.empty());
        const LauncherError shown(c.message, "the running application could not read them");
        EXPECT_EQ(c.message ? std::vector<std::string>{formatError(shown)} : std::vector<std::string>{},
                  fake::system().errorBoxes);
    }
}

TEST(WaitForFirstInstance, LooksAtTheQueueBeforeTheProcessEveryRound) {
    runningFirstInstance();
    fake::channel().openableProcesses.insert(5000);
    fake::channel().exitCodes = {platform::stillActive, 0u};
    Launcher launcher;
    launcher.instanceView = &blockOf();
    EXPECT_EQ(0, waitForFirstInstance(launcher));
    EXPECT_EQ((std::vector<std::string>{"peek", "exit-code", "wait", "peek", "exit-code"}),
              fake::channel().log);
}

// --- A minimal JNI environment for the worker ---------------------------------------------------

struct FakeObject {
    enum Kind { Class, String, CharArray, ObjectArray, Throwable } kind;
    std::string text;  // class name, string text (ASCII), throwable class
    std::vector<jobject> elements;
};

struct FakeJava {
    // Script.
    std::set<std::string> missingClasses;
    enum class Secondary { None, Void, Int } secondary = Secondary::Void;
    jint secondaryResult = 0;
    bool secondaryThrows = false;
    jint attachResult = JNI_OK;
    // State and record.
    std::deque<FakeObject> objects;
    jobject pending = nullptr;
    std::vector<std::string> described;
    std::vector<std::vector<std::string>> secondaryCalls;
    int attaches = 0;
    int detaches = 0;

    JNINativeInterface_ functions{};
    JNIInvokeInterface_ invoke{};
    JNIEnv env{};
    JavaVM vm{};

    FakeJava();
    jobject make(FakeObject::Kind kind, const std::string& text) {
        objects.push_back(FakeObject{kind, text, {}});
        return reinterpret_cast<jobject>(&objects.back());
    }
    static FakeObject& of(jobject object) { return *reinterpret_cast<FakeObject*>(object); }
};

FakeJava* java = nullptr;

const char* const kVoidSignature = "([Ljava/lang/String;)V";
const char* const kIntSignature = "([Ljava/lang/String;)I";
char stringInit;     // method ids: addresses that mean one method each
char voidSecondary;
char intSecondary;

FakeJava::FakeJava() {
    functions.FindClass = [](JNIEnv*, const char* name) -> jclass {
        if (java->missingClasses.count(name)) {
            java->pending = java->make(FakeObject::Throwable, "java.lang.NoClassDefFoundError");
            return nullptr;
        }
        return static_cast<jclass>(java->make(FakeObject::Class, name));
    };
    functions.GetMethodID = [](JNIEnv*, jclass, const char* name, const char* signature) -> jmethodID {
        if (std::strcmp(name, "<init>") == 0 && std::strcmp(signature, "([C)V") == 0) {
            return reinterpret_cast<jmethodID>(&stringInit);
        }
        return nullptr;
    };
    functions.GetStaticMethodID = [](JNIEnv*, jclass, const char* name,
                                     const char* signature) -> jmethodID {
        fake::channel().log.push_back(std::string("lookup") + signature);
        if (std::strcmp(name, "secondaryMain") == 0) {
            if (java->secondary == Secondary::Void && std::strcmp(signature, kVoidSignature) == 0) {
                return reinterpret_cast<jmethodID>(&voidSecondary);
            }
            if (java->secondary == Secondary::Int && std::strcmp(signature, kIntSignature) == 0) {
                return reinterpret_cast<jmethodID>(&intSecondary);
            }
        }
        java->pending = java->make(FakeObject::Throwable, "java.lang.NoSuchMethodError");
        return nullptr;
    };
    functions.NewStringUTF = [](JNIEnv*, const char* text) -> jstring {
        return static_cast<jstring>(java->make(FakeObject::String, text));
    };
    functions.NewCharArray = [](JNIEnv*, jsize) -> jcharArray {
        return static_cast<jcharArray>(java->make(FakeObject::CharArray, ""));
    };
    functions.SetCharArrayRegion = [](JNIEnv*, jcharArray array, jsize, jsize length, const jchar* chars) {
        for (jsize i = 0; i < length; ++i) FakeJava::of(array).text.push_back(static_cast<char>(chars[i]));
    };
    functions.NewObjectV = [](JNIEnv*, jclass, jmethodID method, va_list arguments) -> jobject {
        if (method != reinterpret_cast<jmethodID>(&stringInit)) return nullptr;
        const jobject chars = va_arg(arguments, jobject);
        return java->make(FakeObject::String, FakeJava::of(chars).text);
    };
    functions.NewObjectArray = [](JNIEnv*, jsize length, jclass, jobject) -> jobjectArray {
        const jobject array = java->make(FakeObject::ObjectArray, "");
        FakeJava::of(array).elements.resize(static_cast<std::size_t>(length));
        return static_cast<jobjectArray>(array);
    };
    functions.SetObjectArrayElement = [](JNIEnv*, jobjectArray array, jsize index, jobject value) {
        FakeJava::of(array).elements.at(static_cast<std::size_t>(index)) = value;
    };
    functions.GetStringUTFChars = [](JNIEnv*, jstring text, jboolean*) -> const char* {
        return FakeJava::of(text).text.c_str();
    };
    functions.ReleaseStringUTFChars = [](JNIEnv*, jstring, const char*) {};
    functions.DeleteLocalRef = [](JNIEnv*, jobject) {};
    functions.ExceptionOccurred = [](JNIEnv*) -> jthrowable { return static_cast<jthrowable>(java->pending); };
    functions.ExceptionCheck = [](JNIEnv*) -> jboolean { return java->pending ? JNI_TRUE : JNI_FALSE; };
    functions.ExceptionClear = [](JNIEnv*) { java->pending = nullptr; };
    functions.ExceptionDescribe = [](JNIEnv*) {
        if (java->pending) java->described.push_back(FakeJava::of(java->pending).text);
        java->pending = nullptr;
        fake::channel().log.push_back("describe");
    };
    auto record = [](jobject array) {
        std::vector<std::string> received;
        for (jobject element : FakeJava::of(array).elements) received.push_back(FakeJava::of(element).text);
        java->secondaryCalls.push_back(received);
        if (java->secondaryThrows) java->pending = java->make(FakeObject::Throwable, "java.lang.RuntimeException");
    };
    static void (*recordCall)(jobject) = nullptr;
    recordCall = record;
    functions.CallStaticVoidMethodV = [](JNIEnv*, jclass, jmethodID method, va_list arguments) {
        EXPECT_EQ(reinterpret_cast<jmethodID>(&voidSecondary), method);
        fake::channel().log.push_back("call-void");
        recordCall(va_arg(arguments, jobject));
    };
    functions.CallStaticIntMethodV = [](JNIEnv*, jclass, jmethodID method, va_list arguments) -> jint {
        EXPECT_EQ(reinterpret_cast<jmethodID>(&intSecondary), method);
        fake::channel().log.push_back("call-int");
        recordCall(va_arg(arguments, jobject));
        return java->secondaryResult;
    };
    invoke.AttachCurrentThread = [](JavaVM*, void** penv, void*) -> jint {
        ++java->attaches;
        if (java->attachResult != JNI_OK) return java->attachResult;
        *penv = &java->env;
        return JNI_OK;
    };
    invoke.DetachCurrentThread = [](JavaVM*) -> jint {
        ++java->detaches;
        return JNI_OK;
    };
    env.functions = &functions;
    vm.functions = &invoke;
}

class Worker : public testing::Test {
protected:
    void SetUp() override {
        java = &fakeJava;
        launcher.mainClass = "com/example/App";
        launcher.javaVm = &fakeJava.vm;
        launcher.mainStartedEvent = platform::createEvent("evt");
        platform::setEvent(*launcher.mainStartedEvent);
        fake::channel().log.clear();
    }
    void TearDown() override {
        java = nullptr;
        launcher.javaVm = nullptr;  // the fake has no DestroyJavaVM
    }

    void handle(std::vector<std::string> arguments) {
        auto* request = new InstanceRequest;
        request->requesterThreadId = 321;
        request->replyMessage = kMessage;
        request->arguments = std::move(arguments);
        request->launcher = &launcher;
        EXPECT_EQ(0u, handleRequest(request));
    }

    FakeJava fakeJava;
    Launcher launcher;
};

TEST_F(Worker, VoidSecondaryMainIsAnsweredBeforeItRuns) {
    handle({"a", "b"});
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"a", "b"}}), fakeJava.secondaryCalls);
    EXPECT_EQ((std::vector<fake::FakePost>{{321, kMessage, 0}}), fake::channel().posts);
    const auto& log = fake::channel().log;
    EXPECT_LT(indexOf(log, "event-wait"), indexOf(log, "post"));
    EXPECT_LT(indexOf(log, "post"), indexOf(log, "call-void"));
    EXPECT_EQ(1, fakeJava.attaches);
    EXPECT_EQ(1, fakeJava.detaches);
    EXPECT_TRUE(fakeJava.described.empty());
}

TEST_F(Worker, IntSecondaryMainIsAnsweredWithItsResultAfterItRuns) {
    fakeJava.secondary = FakeJava::Secondary::Int;
    fakeJava.secondaryResult = 7;
    handle({""});
    EXPECT_EQ((std::vector<std::vector<std::string>>{{""}}), fakeJava.secondaryCalls);
    EXPECT_EQ((std::vector<fake::FakePost>{{321, kMessage, 7}}), fake::channel().posts);
    const auto& log = fake::channel().log;
    EXPECT_LT(indexOf(log, "lookup([Ljava/lang/String;)V"), indexOf(log, "lookup([Ljava/lang/String;)I"));
    EXPECT_LT(indexOf(log, "call-int"), indexOf(log, "post"));
    // The failed lookup of the void form leaves nothing to print.
    EXPECT_TRUE(fakeJava.described.empty());
}

TEST_F(Worker, NegativeResultTravelsAsItsBitPattern) {
    fakeJava.secondary = FakeJava::Secondary::Int;
    fakeJava.secondaryResult = -1;
    handle({"x"});
    EXPECT_EQ((std::vector<fake::FakePost>{{321, kMessage, 0xFFFFFFFFu}}), fake::channel().posts);
}

TEST_F(Worker, ThrowingSecondaryMainIsPrintedAndStillAnswered) {
    fakeJava.secondary = FakeJava::Secondary::Int;
    fakeJava.secondaryResult = 3;
    fakeJava.secondaryThrows = true;
    handle({"x"});
    EXPECT_EQ((std::vector<fake::FakePost>{{321, kMessage, 3}}), fake::channel().posts);
    EXPECT_EQ(std::vector<std::string>{"java.lang.RuntimeException"}, fakeJava.described);
    EXPECT_EQ(1, fakeJava.detaches);
}

TEST_F(Worker, NoReplyWhenNothingCanBeCalled) {
    struct Case {
        const char* what;
        void (*arrange)(FakeJava&, Launcher&);
        std::vector<std::string> described;
        int attaches;
        int detaches;
    };
    const Case cases[] = {
        {"no secondaryMain at all", [](FakeJava& j, Launcher&) { j.secondary = FakeJava::Secondary::None; },
         {"java.lang.NoSuchMethodError"}, 1, 1},
        {"main class missing", [](FakeJava& j, Launcher&) { j.missingClasses.insert("com/example/App"); },
         {"java.lang.NoClassDefFoundError"}, 1, 1},
        {"attach fails", [](FakeJava& j, Launcher&) { j.attachResult = JNI_ERR; }, {}, 1, 0},
        {"no virtual machine", [](FakeJava&, Launcher& l) { l.javaVm = nullptr; }, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeJava fresh;
        java = &fresh;
        launcher.javaVm = &fresh.vm;
        fake::channel().posts.clear();
        c.arrange(fresh, launcher);
        handle({"x"});
        EXPECT_TRUE(fake::channel().posts.empty());
        EXPECT_TRUE(fresh.secondaryCalls.empty());
        EXPECT_EQ(c.described, fresh.described);
        EXPECT_EQ(c.attaches, fresh.attaches);
        EXPECT_EQ(c.detaches, fresh.detaches);
    }
    java = &fakeJava;
}

TEST_F(Worker, StaysAttachedOnlyForAnOldIbmRuntimeThatKeepsItsThreads) {
    const struct {
        bool allowed, favored, legacy;
        int detaches;
    } cases[] = {{true, false, true, 0}, {false, true, true, 0}, {true, false, false, 1}, {false, false, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.allowed << c.favored << c.legacy);
        FakeJava fresh;
        java = &fresh;
        launcher.javaVm = &fresh.vm;
        launcher.ibmAllowed = c.allowed;
        launcher.ibmFavored = c.favored;
        launcher.legacyIbmRuntime = c.legacy;
        handle({"x"});
        EXPECT_EQ(1u, fresh.secondaryCalls.size());
        EXPECT_EQ(c.detaches, fresh.detaches);
    }
    java = &fakeJava;
}

// --- The listener ---------------------------------------------------------------------------------

TEST_F(Worker, ListenerCopiesEachRequestWhenItArrives) {
    fake::channel().blocks[kName].assign(sizeof(InstanceBlock), 0);
    InstanceBlock& block = blockOf();
    block.requestMessage = kMessage;
    launcher.instanceView = &block;
    launcher.instanceAcknowledgement = platform::createAcknowledgement("ack");
    // Workers wait for main; run them only after both requests have come in.
    fake::system().deferThreads = true;

    ASSERT_TRUE(packArguments({"first", "one"}, block.argumentArea));
    fake::channel().queue = {{0x0400, 1}, {kMessage, 501}};
    runListener(&launcher);
    // The next later instance writes its list; the first one's must survive in its request.
    ASSERT_TRUE(packArguments({"second"}, block.argumentArea));
    fake::channel().queue = {{kMessage, 502}, {platform::quitMessage, 0}, {kMessage, 503}};
    runListener(&launcher);

    EXPECT_EQ((std::vector<std::uint32_t>{501, 502}), fake::channel().acknowledged);
    ASSERT_EQ(2u, fake::system().deferredThreads.size());
    for (const auto& [body, parameter] : fake::system().deferredThreads) body(parameter);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"first", "one"}, {"second"}}), fakeJava.secondaryCalls);
    EXPECT_EQ((std::vector<fake::FakePost>{{501, kMessage, 0}, {502, kMessage, 0}}), fake::channel().posts);
    EXPECT_EQ(1u, fake::channel().queue.size()) << "nothing is read after the quit message";
}

TEST_F(Worker, ListenerDropsTheRequestOfAStartThatHasGone) {
    // Start 501 ended after posting; start 502 then wrote its own list. Only 502 may get it.
    fake::channel().blocks[kName].assign(sizeof(InstanceBlock), 0);
    InstanceBlock& block = blockOf();
    block.requestMessage = kMessage;
    launcher.instanceView = &block;
    launcher.instanceAcknowledgement = platform::createAcknowledgement("ack");
    fake::system().deferThreads = true;
    fake::channel().goneRequesters = {501};
    ASSERT_TRUE(packArguments({"of 502"}, block.argumentArea));
    fake::channel().queue = {{kMessage, 501}, {kMessage, 502}};
    runListener(&launcher);

    EXPECT_EQ(std::vector<std::uint32_t>{502}, fake::channel().acknowledged);
    ASSERT_EQ(1u, fake::system().deferredThreads.size());
    for (const auto& [body, parameter] : fake::system().deferredThreads) body(parameter);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"of 502"}}), fakeJava.secondaryCalls);
    EXPECT_EQ((std::vector<fake::FakePost>{{502, kMessage, 0}}), fake::channel().posts);
}

TEST_F(Worker, ListenerDropsAKilledStartsMessageAndRefusesALostArgumentFile) {
    fake::channel().blocks[kName].assign(instanceBlockSize, 0);
    auto& block = *reinterpret_cast<ExtendedInstanceBlock*>(fake::channel().blocks[kName].data());
    block.block.requestMessage = kMessage;
    publishExtension(block, 1);
    launcher.instanceView = &block.block;
    // A start killed before its request was taken left message 501 (id 8); start 503 wrote
    // request 10, whose argument file has gone.
    writeRequest(block, kName, {"of 503", ""}, 10);
    fake::channel().blocks.erase(std::string(kName) + argumentFileSuffix);
    fake::channel().queue = {{kMessage, 501, 8}, {kMessage, 503, 10}};
    runListener(&launcher);
    EXPECT_EQ((std::vector<fake::FakePost>{{503, kMessage, 0xFFFFFFFFu, ~10u}}), fake::channel().posts);
}

TEST_F(Worker, ListenerDropsTheRequestWhenNoWorkerStarts) {
    fake::channel().blocks[kName].assign(sizeof(InstanceBlock), 0);
    blockOf().requestMessage = kMessage;
    launcher.instanceView = &blockOf();
    fake::system().refuseThreads = true;
    fake::channel().queue = {{kMessage, 501}};
    EXPECT_EQ(0u, runListener(&launcher));
    EXPECT_TRUE(fake::channel().posts.empty());
    EXPECT_TRUE(fake::channel().acknowledged.empty()) << "no acknowledgement object: nothing to signal";
}

// --- Teardown -----------------------------------------------------------------------------------

TEST(EndSingleInstance, FirstInstanceStopsItsListenerUnderTheTurn) {
    writeIni("Single Instance=yes\r\n");
    Launcher launcher;
    ASSERT_TRUE(setUpSingleInstance(launcher));
    fake::channel().log.clear();
    fake::channel().listenerActivePolls = 2;
    endSingleInstance(launcher);
    EXPECT_EQ((std::vector<std::uint32_t>{41, 41, 41}), fake::channel().quitPosts);
    EXPECT_EQ((std::vector<std::string>{"turn", "unmap", "turn-released"}), fake::channel().log);
    // A later start that never lets go of the turn does not keep this process from ending.
    EXPECT_EQ(teardownTurnTimeoutMs, fake::channel().turnTimeouts.back());
    EXPECT_EQ(nullptr, launcher.instanceView);
    EXPECT_EQ(nullptr, launcher.instanceMapping);
    EXPECT_EQ(nullptr, launcher.instanceListenerThread);
    EXPECT_EQ(nullptr, launcher.mainStartedEvent);
}

TEST(EndSingleInstance, LaterInstanceOnlyLetsGoOfTheBlock) {
    writeIni("Single Instance=yes\r\n");
    runningFirstInstance();
    Launcher launcher;
    ASSERT_TRUE(setUpSingleInstance(launcher));
    fake::channel().log.clear();
    endSingleInstance(launcher);
    EXPECT_TRUE(fake::channel().quitPosts.empty());
    EXPECT_EQ(std::vector<std::string>{"unmap"}, fake::channel().log);
    EXPECT_EQ(nullptr, launcher.instanceMapping);
}

TEST(EndSingleInstance, WithCoordinationOffOnlyTheEventIsClosed) {
    Launcher launcher;
    launcher.mainStartedEvent = platform::createEvent("evt");
    endSingleInstance(launcher);
    EXPECT_EQ(nullptr, launcher.mainStartedEvent);
    EXPECT_TRUE(fake::channel().log.empty());
}

}  // namespace
}  // namespace qn
