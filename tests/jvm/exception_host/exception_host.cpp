// Hosts a real Java VM through the Invocation API and runs the launcher's exception report on a
// throwable made by the Failures fixture:
//   qn_exception_host CLASSPATH describe METHOD   prints the trace text between markers
//   qn_exception_host CLASSPATH report METHOD     asks like the launcher; Stop ends with exit(-1)
#include <jni.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "launcher/launcher.h"
#include "platform/dialogs.h"
#include "text/modified_utf8.h"
#include "vm/exception_text.h"

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "exception host: %s\n", what);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: qn_exception_host CLASSPATH describe|report METHOD");
    const std::string classPath = std::string("-Djava.class.path=") + argv[1];
    const std::string mode = argv[2];
    const char* method = argv[3];

    JavaVMOption options[2];
    options[0].optionString = const_cast<char*>(classPath.c_str());
    options[0].extraInfo = nullptr;
    // Wrong use of the JNI (a leaked or stale reference, a call with an exception pending) is
    // reported by the runtime itself.
    options[1].optionString = const_cast<char*>("-Xcheck:jni");
    options[1].extraInfo = nullptr;
    JavaVMInitArgs arguments{};
    arguments.version = JNI_VERSION_1_2;
    arguments.nOptions = 2;
    arguments.options = options;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &arguments) != JNI_OK) {
        return fail("no Java VM");
    }

    jclass failures = env->FindClass("Failures");
    if (!failures) return fail("no Failures class");
    jmethodID make = env->GetStaticMethodID(failures, method, "()Ljava/lang/Throwable;");
    if (!make) return fail("no such fixture method");
    auto exception = static_cast<jthrowable>(env->CallStaticObjectMethod(failures, make));
    if (env->ExceptionCheck() || !exception) return fail("the fixture made nothing");

    qn::Launcher launcher;
    launcher.jniEnv = env;
    launcher.javaVm = vm;
    if (mode == "describe") {
        // Shown as the user would see it: the runtime's modified UTF-8 in display text.
        const std::string text = qn::platform::displayText(
            qn::decodeModifiedUtf8(qn::describeException(env, launcher, exception)));
        std::printf("TEXT-BEGIN\n%sTEXT-END\nPENDING=%d\n", text.c_str(),
                    env->ExceptionCheck() ? 1 : 0);
        std::fflush(stdout);
    } else if (mode == "report") {
        if (qn::showUncaughtException(launcher, exception, env)) {
            // What the Java main thread does on Stop.
            jclass system = env->FindClass("java/lang/System");
            jmethodID exitMethod = env->GetStaticMethodID(system, "exit", "(I)V");
            env->CallStaticVoidMethod(system, exitMethod, -1);
            return fail("System.exit returned");
        }
        std::printf("IGNORED PENDING=%d\n", env->ExceptionCheck() ? 1 : 0);
        std::fflush(stdout);
    } else {
        return fail("unknown mode");
    }
    launcher.javaVm = nullptr;  // the host destroys its VM itself
    launcher.jniEnv = nullptr;
    vm->DestroyJavaVM();
    return 0;
}
