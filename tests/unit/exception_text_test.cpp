#include <gtest/gtest.h>

#include <cstdarg>
#include <map>
#include <list>
#include <set>

#include "fake_platform.h"
#include "launcher/launcher.h"
#include "vm/exception_text.h"

namespace qn {
namespace {

/// A JNI environment that plays the few calls of the exception report and records them. The step
/// named in `failAt` yields null with an exception pending.
class ScriptedJni {
public:
    ScriptedJni() {
        current = this;
        table.FindClass = &findClass;
        table.GetMethodID = &getMethodId;
        table.NewObjectV = &newObject;
        table.GetObjectClass = &getObjectClass;
        table.CallObjectMethodV = &callObjectMethod;
        table.ExceptionOccurred = &exceptionOccurred;
        table.ExceptionDescribe = &exceptionDescribe;
        table.DeleteLocalRef = &deleteLocalRef;
        table.GetStringUTFChars = &getStringUtfChars;
        table.ReleaseStringUTFChars = &releaseStringUtfChars;
        env.functions = &table;
    }
    ~ScriptedJni() { current = nullptr; }

    JNIEnv env{};
    std::string failAt;             // a step name as recorded in `calls`
    bool printStackTraceThrows = false;
    std::string written = "java.lang.IllegalStateException: boom\r\n\tat app.Main.main(Main.java:3)\r\n";
    std::vector<std::string> calls;
    int describes = 0;
    bool pending = false;
    std::set<jobject> live;  // local references made and not yet deleted
    jthrowable exception = reinterpret_cast<jthrowable>(&exceptionObject);

private:
    static inline ScriptedJni* current = nullptr;
    static inline char exceptionObject = 0;

    jobject make(const std::string& name) {
        names.push_back(name);
        auto* object = reinterpret_cast<jobject>(&names.back());
        live.insert(object);
        return object;
    }
    std::string nameOf(jobject object) const {
        if (object == reinterpret_cast<jobject>(&exceptionObject)) return "exception";
        return *reinterpret_cast<const std::string*>(object);
    }
    /// Records the step; true when it is the one that fails.
    bool step(const std::string& call) {
        calls.push_back(call);
        if (call != failAt) return false;
        pending = true;
        return true;
    }

    static jclass JNICALL findClass(JNIEnv*, const char* name) {
        if (current->step(std::string("FindClass ") + name)) return nullptr;
        return static_cast<jclass>(current->make(name));
    }
    static jmethodID JNICALL getMethodId(JNIEnv*, jclass type, const char* name, const char* signature) {
        const std::string call = "GetMethodID " + current->nameOf(type) + "." + name + signature;
        if (current->step(call)) return nullptr;
        current->methods.push_back(current->nameOf(type) + "." + name);
        return reinterpret_cast<jmethodID>(&current->methods.back());
    }
    static jobject JNICALL newObject(JNIEnv*, jclass type, jmethodID, va_list arguments) {
        std::string call = "NewObject " + current->nameOf(type);
        if (current->nameOf(type) == "java/io/PrintStream") {
            call += " on " + current->nameOf(va_arg(arguments, jobject));
        }
        if (current->step(call)) return nullptr;
        return current->make("new " + current->nameOf(type));
    }
    static jclass JNICALL getObjectClass(JNIEnv*, jobject object) {
        if (current->step("GetObjectClass " + current->nameOf(object))) return nullptr;
        return static_cast<jclass>(current->make("app/Failure"));
    }
    static jobject JNICALL callObjectMethod(JNIEnv*, jobject target, jmethodID method, va_list arguments) {
        const std::string name = *reinterpret_cast<const std::string*>(method);
        std::string call = "Call " + name + " on " + current->nameOf(target);
        if (name == "app/Failure.printStackTrace") {
            call += " with " + current->nameOf(va_arg(arguments, jobject));
            current->calls.push_back(call);
            current->trace = current->written;
            if (current->printStackTraceThrows) current->pending = true;
            // A void method's result through CallObjectMethod is whatever the register held.
            return reinterpret_cast<jobject>(&current->garbage);
        }
        if (current->step(call)) return nullptr;
        return current->make("string");
    }
    static jthrowable JNICALL exceptionOccurred(JNIEnv*) {
        if (!current->pending) return nullptr;
        return static_cast<jthrowable>(current->make("pending"));
    }
    static void JNICALL exceptionDescribe(JNIEnv*) {
        current->calls.push_back("ExceptionDescribe");
        ++current->describes;
        current->pending = false;
    }
    static void JNICALL deleteLocalRef(JNIEnv*, jobject object) {
        EXPECT_EQ(1u, current->live.erase(object)) << "deleted twice or never made";
    }
    static const char* JNICALL getStringUtfChars(JNIEnv*, jstring, jboolean*) {
        if (current->step("GetStringUTFChars")) return nullptr;
        current->calls.push_back("chars out");
        return current->trace.c_str();
    }
    static void JNICALL releaseStringUtfChars(JNIEnv*, jstring, const char* chars) {
        EXPECT_EQ(current->trace.c_str(), chars);
        current->calls.push_back("chars back");
    }

    JNINativeInterface_ table{};
    std::list<std::string> names;    // stable addresses: the objects
    std::list<std::string> methods;  // stable addresses: the method ids
    std::string trace;               // what printStackTrace wrote into the byte stream
    char garbage = 0;
};

const std::vector<std::string> kSteps = {
    "FindClass java/io/ByteArrayOutputStream",
    "GetMethodID java/io/ByteArrayOutputStream.<init>()V",
    "NewObject java/io/ByteArrayOutputStream",
    "FindClass java/io/PrintStream",
    "GetMethodID java/io/PrintStream.<init>(Ljava/io/OutputStream;)V",
    "NewObject java/io/PrintStream on new java/io/ByteArrayOutputStream",
    "GetObjectClass exception",
    "GetMethodID app/Failure.printStackTrace(Ljava/io/PrintStream;)V",
    "Call app/Failure.printStackTrace on exception with new java/io/PrintStream",
    "GetMethodID java/io/ByteArrayOutputStream.toString()Ljava/lang/String;",
    "Call java/io/ByteArrayOutputStream.toString on new java/io/ByteArrayOutputStream",
    "GetStringUTFChars",
    "chars out",
    "chars back",
};

TEST(DescribeException, PrintsTheTraceIntoAByteStream) {
    ScriptedJni jni;
    Launcher launcher;
    EXPECT_EQ(jni.written, describeException(&jni.env, launcher, jni.exception));
    EXPECT_EQ(kSteps, jni.calls);
    EXPECT_EQ(0, jni.describes);
    EXPECT_TRUE(jni.live.empty());
}

TEST(DescribeException, AnyStepWithoutAResultGivesTheEmptyTextAndPrintsWhy) {
    for (const std::string& failing : kSteps) {
        if (failing.rfind("Call app/Failure", 0) == 0 || failing.rfind("chars", 0) == 0) continue;
        SCOPED_TRACE(failing);
        ScriptedJni jni;
        jni.failAt = failing;
        Launcher launcher;
        EXPECT_EQ("", describeException(&jni.env, launcher, jni.exception));
        // The run stops at the failing step, after printing its exception once.
        const auto at = std::find(kSteps.begin(), kSteps.end(), failing);
        std::vector<std::string> expected(kSteps.begin(), at + 1);
        expected.push_back("ExceptionDescribe");
        EXPECT_EQ(expected, jni.calls);
        EXPECT_FALSE(jni.pending);
        EXPECT_TRUE(jni.live.empty());
    }
}

TEST(DescribeException, AThrowingPrintStackTraceKeepsWhatItWrote) {
    const struct {
        const char* written;
    } cases[] = {{"app.Failure: half\r\n\tat app.Main"}, {""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        ScriptedJni jni;
        jni.printStackTraceThrows = true;
        jni.written = c.written;
        Launcher launcher;
        EXPECT_EQ(c.written, describeException(&jni.env, launcher, jni.exception));
        EXPECT_EQ(1, jni.describes);
        EXPECT_EQ("ExceptionDescribe", jni.calls.at(9));  // right after printStackTrace
        EXPECT_FALSE(jni.pending);
        EXPECT_TRUE(jni.live.empty());
    }
}

TEST(DescribeException, NoEnvironmentOrNoExceptionGivesTheEmptyText) {
    ScriptedJni jni;
    Launcher launcher;
    EXPECT_EQ("", describeException(nullptr, launcher, jni.exception));
    EXPECT_EQ("", describeException(&jni.env, launcher, nullptr));
    EXPECT_TRUE(jni.calls.empty());
}

TEST(ShowUncaughtException, AsksWithTheDisplayTextAndGivesTheAnswer) {
    const struct {
        bool stop;
    } cases[] = {{false}, {true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stop);
        fake::system().exceptionQuestions.clear();
        fake::system().stopAfterException = c.stop;
        ScriptedJni jni;
        // Modified UTF-8: an encoded NUL and a supplementary character as two surrogates.
        jni.written = "app.Failure: caf\xC3\xA9 \xC0\x80 \xED\xA0\xBD\xED\xB8\x80\r\n";
        Launcher launcher;
        EXPECT_EQ(c.stop, showUncaughtException(launcher, jni.exception, &jni.env));
        EXPECT_EQ(std::vector<std::string>{std::string("app.Failure: caf\xC3\xA9 ") + '\0' +
                                           " \xF0\x9F\x98\x80\r\n"},
                  fake::system().exceptionQuestions);
    }
}

TEST(ShowUncaughtException, NoTextAsksNothingAndIgnores) {
    fake::system().stopAfterException = true;
    const struct {
        const char* name;
        std::string failAt;
        bool throws;
    } cases[] = {
        {"printStackTrace wrote nothing", "", true},
        {"no byte stream", "FindClass java/io/ByteArrayOutputStream", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedJni jni;
        jni.failAt = c.failAt;
        jni.printStackTraceThrows = c.throws;
        jni.written = "";
        Launcher launcher;
        EXPECT_FALSE(showUncaughtException(launcher, jni.exception, &jni.env));
        EXPECT_TRUE(fake::system().exceptionQuestions.empty());
    }
}

}  // namespace
}  // namespace qn
