#include "vm/main_invocation.h"

#include <optional>

#include "launcher/launcher.h"
#include "platform/dialogs.h"
#include "res/resource_ids.h"
#include "splash/splash.h"
#include "text/modified_utf8.h"
#include "trace/trace.h"
#include "vm/java_strings.h"
#include "vm/jdk11_init_args.h"
#include "vm/launcher_error.h"
#include "vm/runtime_library.h"
#include "vm/uncaught_exception.h"

namespace qn {

namespace {

std::uint32_t defaultJavaStackSize(const Launcher& launcher) {
    if (!launcher.defaultInitArgsProc) return 0;
    Jdk11InitArgs args{};
    args.version = JNI_VERSION_1_1;
    launcher.defaultInitArgsProc(&args);  // only javaStackSize is of interest, not the result
    return args.javaStackSize > 0 ? static_cast<std::uint32_t>(args.javaStackSize) : 0;
}

/// The class-name text that GetStringUTFChars gives, released when it goes out of scope.
class Utf8Chars {
public:
    Utf8Chars(JNIEnv* env, jstring string)
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    ~Utf8Chars() {
        if (chars_) env_->ReleaseStringUTFChars(string_, chars_);
    }
    Utf8Chars(const Utf8Chars&) = delete;
    Utf8Chars& operator=(const Utf8Chars&) = delete;

    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

/// A missing main method shows its message also when the runtime signalled it with a pending
/// NoSuchMethodError: on Windows the printed exception goes to a console nobody sees.
bool isMissingMethodError(JNIEnv* env, jthrowable exception) {
    const LocalRef<jclass> errorClass(env, env->FindClass("java/lang/NoSuchMethodError"));
    if (!errorClass) {
        env->ExceptionClear();
        return false;
    }
    return env->IsInstanceOf(exception, errorClass.get()) == JNI_TRUE;
}

void callSystemExit(JNIEnv* env, jint code) {
    const LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    if (!system) return;
    const jmethodID exitMethod = env->GetStaticMethodID(system.get(), "exit", "(I)V");
    if (!exitMethod) return;
    env->CallStaticVoidMethod(system.get(), exitMethod, code);
}

/// Prints the exception main threw, clears the way for what follows and asks the user when
/// "Failure Check" is on; Stop ends the process from inside the runtime.
void handleUncaughtException(Launcher& launcher, JNIEnv* env) {
    const LocalRef<jthrowable> exception(env, env->ExceptionOccurred());
    trace::line("main", "ended by an uncaught exception");
    launcher.mainThrew = true;
    env->ExceptionDescribe();
    closeSplashWindow(launcher);
    if (launcher.failureCheck && reportUncaughtException(launcher, env, exception.get())) {
        callSystemExit(env, -1);
        if (env->ExceptionCheck()) env->ExceptionDescribe();
    }
}

}  // namespace

std::uint32_t runJavaMainThread(Launcher& launcher) {
    if (launcher.mainThreadStackSize == 0) launcher.mainThreadStackSize = defaultJavaStackSize(launcher);
    if (trace::enabled()) {
        trace::line("main", "thread stack size " + (launcher.mainThreadStackSize == 0
                                                        ? std::string("the system's default")
                                                        : std::to_string(launcher.mainThreadStackSize)));
    }
    platform::ThreadPtr thread =
        platform::startThread(launcher.mainThreadStackSize, javaMainThreadBody, &launcher);
    if (!thread) return javaMainThreadBody(&launcher);  // the same work on this thread
    return platform::joinThread(*thread);
}

std::uint32_t javaMainThreadBody(void* parameter) {
    if (!parameter) return 1;
    Launcher& launcher = *static_cast<Launcher*>(parameter);
    if (!createJavaVm(launcher)) return 1;
    return invokeMainClass(launcher) ? 0 : 1;
}

namespace {

/// A new PrintStream on the file (created, or emptied when it exists); null when that fails.
jobject openPrintStream(JNIEnv* env, const std::string& path) {
    const LocalRef<jstring> javaPath(env, toJavaString(env, path));
    if (!javaPath) return nullptr;

    const LocalRef<jclass> fileClass(env, env->FindClass("java/io/FileOutputStream"));
    if (!fileClass) return nullptr;
    const jmethodID fileConstructor = env->GetMethodID(fileClass.get(), "<init>", "(Ljava/lang/String;)V");
    if (!fileConstructor) return nullptr;
    const LocalRef<jobject> file(env, env->NewObject(fileClass.get(), fileConstructor, javaPath.get()));
    if (!file) return nullptr;

    const LocalRef<jclass> printClass(env, env->FindClass("java/io/PrintStream"));
    if (!printClass) return nullptr;
    const jmethodID printConstructor = env->GetMethodID(printClass.get(), "<init>", "(Ljava/io/OutputStream;)V");
    if (!printConstructor) return nullptr;
    return env->NewObject(printClass.get(), printConstructor, file.get());
}

bool setStandardStream(JNIEnv* env, jobject print, StandardStream stream) {
    const LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    if (!system) return false;
    const jmethodID setter = env->GetStaticMethodID(
        system.get(), stream == StandardStream::Output ? "setOut" : "setErr", "(Ljava/io/PrintStream;)V");
    if (!setter) return false;
    env->CallStaticVoidMethod(system.get(), setter, print);
    return !env->ExceptionCheck();
}

void describePending(JNIEnv* env) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
}

}  // namespace

bool redirectStandardStream(Launcher& launcher, const std::string& path, StandardStream stream) {
    JNIEnv* env = launcher.jniEnv;
    const LocalRef<jobject> print(env, openPrintStream(env, path));
    return print && setStandardStream(env, print.get(), stream);
}

void redirectStandardStreams(Launcher& launcher) {
    JNIEnv* env = launcher.jniEnv;
    // A stream that cannot be redirected keeps its target; the program still runs.
    const LocalRef<jobject> output(
        env, launcher.outputFile.empty() ? nullptr : openPrintStream(env, launcher.outputFile));
    bool outputRedirected = false;
    if (!launcher.outputFile.empty()) {
        outputRedirected = output && setStandardStream(env, output.get(), StandardStream::Output);
        if (!outputRedirected) describePending(env);
    }
    if (launcher.errorFile.empty()) return;
    // One file named for both: a stream of its own would empty it and write over the other's
    // lines. Both streams then share one, so their lines stay in the order they were written.
    if (outputRedirected && platform::sameFile(launcher.outputFile, launcher.errorFile)) {
        if (trace::enabled()) trace::line("stream", "output and error share " + launcher.outputFile);
        if (!setStandardStream(env, output.get(), StandardStream::Error)) describePending(env);
        return;
    }
    if (!redirectStandardStream(launcher, launcher.errorFile, StandardStream::Error)) describePending(env);
}

namespace {

/// The main class, or null after the report.
jclass findMainClass(Launcher& launcher, JNIEnv* env, jstring className) {
    const Utf8Chars name(env, className);
    if (!name.get()) {
        env->ExceptionDescribe();
        return nullptr;
    }
    const jclass found = env->FindClass(name.get());
    if (!found) {
        env->ExceptionDescribe();
        reportError({IDS_MAIN_CLASS_NOT_FOUND, platform::displayText(decodeModifiedUtf8(name.get()))},
                    launcher.messageOwner);
    }
    return found;
}

/// The main forms besides the static one taking the arguments, as runtimes from 25 on launch them.
enum class MainForm { StaticWithArguments, InstanceWithArguments, StaticWithout, InstanceWithout };

constexpr jint firstReleaseWithAllMainForms = 25;

/// The feature release of the running VM (the leading number of java.version: "25" of "25.0.1",
/// "1" of "1.8.0_392"), 0 when unknown.
jint runtimeFeatureRelease(JNIEnv* env) {
    const LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    const jmethodID getProperty =
        system ? env->GetStaticMethodID(system.get(), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;") : nullptr;
    const LocalRef<jstring> name(env, getProperty ? env->NewStringUTF("java.version") : nullptr);
    jstring text = name ? static_cast<jstring>(env->CallStaticObjectMethod(system.get(), getProperty, name.get()))
                        : nullptr;
    // A call that can throw is followed by the check before any other call (-Xcheck:jni says so).
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        text = nullptr;
    }
    const LocalRef<jstring> value(env, text);
    jint release = 0;
    if (value) {
        const char* digits = env->GetStringUTFChars(value.get(), nullptr);
        // "1.8.0_392" and older read as 1, below every release with the later forms.
        for (const char* c = digits; c && *c >= '0' && *c <= '9'; ++c) release = release * 10 + (*c - '0');
        if (digits) env->ReleaseStringUTFChars(value.get(), digits);
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    return release;
}

/// True when a method or constructor found through JNI is private: the runtime's own launcher
/// never calls a private main or constructor.
bool isPrivateMember(JNIEnv* env, jclass owner, jmethodID id, bool isStatic) {
    const LocalRef<jobject> member(env, env->ToReflectedMethod(owner, id, isStatic ? JNI_TRUE : JNI_FALSE));
    const LocalRef<jclass> memberType(env, env->FindClass("java/lang/reflect/Member"));
    const jmethodID getModifiers = memberType ? env->GetMethodID(memberType.get(), "getModifiers", "()I") : nullptr;
    if (!member || !getModifiers) {
        env->ExceptionClear();
        return true;
    }
    constexpr jint privateModifier = 0x2;
    const jint modifiers = env->CallIntMethod(member.get(), getModifiers);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return true;
    }
    return (modifiers & privateModifier) != 0;
}

/// A usable method of the given kind, or null with no exception pending.
jmethodID findMainMethod(JNIEnv* env, jclass mainClass, bool isStatic, const char* signature) {
    const jmethodID method = isStatic ? env->GetStaticMethodID(mainClass, "main", signature)
                                      : env->GetMethodID(mainClass, "main", signature);
    if (!method) {
        env->ExceptionClear();
        return nullptr;
    }
    return isPrivateMember(env, mainClass, method, isStatic) ? nullptr : method;
}

struct MainMethod {
    MainForm form;
    jmethodID method;
};

/// The choice a runtime's launcher makes among the other forms: a main taking the arguments
/// before one without, and an instance one only with a constructor without parameters.
std::optional<MainMethod> findOtherMainForm(JNIEnv* env, jclass mainClass) {
    const jmethodID constructor = env->GetMethodID(mainClass, "<init>", "()V");
    if (!constructor) env->ExceptionClear();
    const bool canInstantiate = constructor && !isPrivateMember(env, mainClass, constructor, false);
    const struct {
        MainForm form;
        bool isStatic;
        const char* signature;
    } forms[] = {
        {MainForm::InstanceWithArguments, false, "([Ljava/lang/String;)V"},
        {MainForm::StaticWithout, true, "()V"},
        {MainForm::InstanceWithout, false, "()V"},
    };
    for (const auto& form : forms) {
        if (!form.isStatic && !canInstantiate) continue;
        if (const jmethodID method = findMainMethod(env, mainClass, form.isStatic, form.signature)) {
            return MainMethod{form.form, method};
        }
    }
    return std::nullopt;
}

const char* formName(MainForm form) {
    switch (form) {
        case MainForm::StaticWithArguments: return "static main(String[])";
        case MainForm::InstanceWithArguments: return "instance main(String[])";
        case MainForm::StaticWithout: return "static main()";
        case MainForm::InstanceWithout: return "instance main()";
    }
    return "";
}

/// Runs the chosen form; an exception of the call (or of the constructor) stays pending.
void callMainForm(JNIEnv* env, jclass mainClass, const MainMethod& main, jobjectArray arguments) {
    switch (main.form) {
        case MainForm::StaticWithArguments:
            env->CallStaticVoidMethod(mainClass, main.method, arguments);
            return;
        case MainForm::StaticWithout:
            env->CallStaticVoidMethod(mainClass, main.method);
            return;
        case MainForm::InstanceWithArguments:
        case MainForm::InstanceWithout: {
            const jmethodID constructor = env->GetMethodID(mainClass, "<init>", "()V");
            if (!constructor) return;
            const LocalRef<jobject> instance(env, env->NewObject(mainClass, constructor));
            if (!instance) return;
            if (main.form == MainForm::InstanceWithArguments) {
                env->CallVoidMethod(instance.get(), main.method, arguments);
            } else {
                env->CallVoidMethod(instance.get(), main.method);
            }
            return;
        }
    }
}

/// Calls main with the arguments; false when the class, the method or the arguments cannot be had.
/// Every local reference is gone when it returns, before the thread detaches.
bool callMain(Launcher& launcher, JNIEnv* env) {
    const LocalRef<jstring> className(env, toJavaString(env, launcher.mainClass));
    if (!className) {
        reportError({IDS_MAIN_CLASS_LOAD_FAILED, launcher.mainClass}, launcher.messageOwner);
        return false;
    }
    const LocalRef<jclass> mainClass(env, findMainClass(launcher, env, className.get()));
    if (!mainClass) return false;

    std::optional<MainMethod> mainMethod;
    if (const jmethodID method = env->GetStaticMethodID(mainClass.get(), "main", "([Ljava/lang/String;)V")) {
        mainMethod = MainMethod{MainForm::StaticWithArguments, method};
    } else {
        const LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
        env->ExceptionClear();  // nothing more may be asked of the VM while it is pending
        const bool missing = !pending || isMissingMethodError(env, pending.get());
        if (missing && runtimeFeatureRelease(env) >= firstReleaseWithAllMainForms) {
            mainMethod = findOtherMainForm(env, mainClass.get());
        }
        if (!mainMethod) {
            if (pending) {
                env->Throw(pending.get());  // printed as the runtime raised it
                env->ExceptionDescribe();
            }
            if (missing) reportError(LauncherError(IDS_NO_MAIN_METHOD), launcher.messageOwner);
            return false;
        }
    }
    if (trace::enabled()) trace::line("main", std::string("method ") + formName(mainMethod->form));

    const LocalRef<jobjectArray> arguments(env, toJavaStringArray(env, launcher.arguments));
    if (!arguments) {
        env->ExceptionDescribe();
        return false;
    }

    // Releases a first instance's workers: main is found and about to run.
    if (launcher.mainStartedEvent) platform::setEvent(*launcher.mainStartedEvent);
    callMainForm(env, mainClass.get(), *mainMethod, arguments.get());
    if (env->ExceptionCheck()) handleUncaughtException(launcher, env);
    return true;
}

}  // namespace

bool keepsMainThread(const Launcher& launcher) {
    return (launcher.ibmAllowed || launcher.ibmFavored) && launcher.legacyIbmRuntime;
}

bool invokeMainClass(Launcher& launcher) {
    if (trace::enabled()) {
        trace::line("main", "class " + launcher.mainClass + ", " + std::to_string(launcher.arguments.size()) +
                                " arguments");
        for (const std::string& argument : launcher.arguments) trace::line("argument", trace::quoted(argument));
    }
    if (!callMain(launcher, launcher.jniEnv)) {
        trace::line("main", "not called");
        // A thread that ends attached counts as a running non-daemon thread: teardown's
        // DestroyJavaVM would wait for it for ever.
        launcher.javaVm->DetachCurrentThread();
        return false;
    }
    trace::line("main", "call ended");
    if (keepsMainThread(launcher)) {
        trace::line("main", "the thread stays: an IBM runtime of Java 8 or older ends the process itself");
        platform::sleepForever();
    }
    return launcher.javaVm->DetachCurrentThread() == JNI_OK;
}

}  // namespace qn
