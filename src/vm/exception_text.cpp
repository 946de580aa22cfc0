#include "vm/exception_text.h"

#include "launcher/launcher.h"
#include "platform/dialogs.h"
#include "vm/modified_utf8.h"

namespace qn {

namespace {

/// A local reference released when the step that made it is done; the Java main thread lives on
/// after the report, so nothing is left for the runtime to collect at detach.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject object) : env_(env), object_(object) {}
    ~LocalRef() {
        if (object_) env_->DeleteLocalRef(object_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    jobject get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    JNIEnv* env_;
    jobject object_;
};

/// Prints and clears a pending exception; true when there was one.
bool describePendingException(JNIEnv* env) {
    const jthrowable pending = env->ExceptionOccurred();
    if (!pending) return false;
    env->DeleteLocalRef(pending);
    env->ExceptionDescribe();
    return true;
}

/// A failed lookup or construction leaves an exception pending; print it so that the calls after
/// the report (System.exit, DetachCurrentThread) run without one.
template <typename T>
bool succeeded(JNIEnv* env, T result) {
    if (result) return true;
    describePendingException(env);
    return false;
}

}  // namespace

std::string describeException(JNIEnv* env, Launcher&, jthrowable exception) {
    if (!env || !exception) return {};

    const LocalRef bytesClass(env, env->FindClass("java/io/ByteArrayOutputStream"));
    if (!succeeded(env, bytesClass.get())) return {};
    const jclass bytesType = static_cast<jclass>(bytesClass.get());
    const jmethodID bytesInit = env->GetMethodID(bytesType, "<init>", "()V");
    if (!succeeded(env, bytesInit)) return {};
    const LocalRef bytes(env, env->NewObject(bytesType, bytesInit));
    if (!succeeded(env, bytes.get())) return {};

    const LocalRef printClass(env, env->FindClass("java/io/PrintStream"));
    if (!succeeded(env, printClass.get())) return {};
    const jclass printType = static_cast<jclass>(printClass.get());
    const jmethodID printInit = env->GetMethodID(printType, "<init>", "(Ljava/io/OutputStream;)V");
    if (!succeeded(env, printInit)) return {};
    const LocalRef printStream(env, env->NewObject(printType, printInit, bytes.get()));
    if (!succeeded(env, printStream.get())) return {};

    const LocalRef exceptionClass(env, env->GetObjectClass(exception));
    if (!succeeded(env, exceptionClass.get())) return {};
    const jmethodID printStackTrace = env->GetMethodID(
        static_cast<jclass>(exceptionClass.get()), "printStackTrace", "(Ljava/io/PrintStream;)V");
    if (!succeeded(env, printStackTrace)) return {};
    // The method is void: what CallObjectMethod gives back is no reference and must not be
    // touched (not even deleted). A throw from inside printStackTrace is printed, and what it
    // wrote before that is still reported.
    static_cast<void>(env->CallObjectMethod(exception, printStackTrace, printStream.get()));
    describePendingException(env);

    const jmethodID toString = env->GetMethodID(bytesType, "toString", "()Ljava/lang/String;");
    if (!succeeded(env, toString)) return {};
    const LocalRef trace(env, env->CallObjectMethod(bytes.get(), toString));
    describePendingException(env);
    if (!trace) return {};

    const jstring traceString = static_cast<jstring>(trace.get());
    const char* characters = env->GetStringUTFChars(traceString, nullptr);
    if (!succeeded(env, characters)) return {};
    std::string text(characters);
    env->ReleaseStringUTFChars(traceString, characters);
    return text;
}

bool showUncaughtException(Launcher& launcher, jthrowable exception, JNIEnv* env) {
    const std::string trace = describeException(env, launcher, exception);
    if (trace.empty()) return false;  // nothing to show counts as Ignore
    return platform::askStopAfterException(platform::displayText(decodeModifiedUtf8(trace)));
}

}  // namespace qn
