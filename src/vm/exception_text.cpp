#include "vm/exception_text.h"

#include "launcher/launcher.h"
#include "platform/dialogs.h"
#include "text/modified_utf8.h"
#include "vm/java_strings.h"

namespace qn {

namespace {

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

    const LocalRef<jclass> bytesClass(env, env->FindClass("java/io/ByteArrayOutputStream"));
    if (!succeeded(env, bytesClass.get())) return {};
    const jclass bytesType = bytesClass.get();
    const jmethodID bytesInit = env->GetMethodID(bytesType, "<init>", "()V");
    if (!succeeded(env, bytesInit)) return {};
    const LocalRef<jobject> bytes(env, env->NewObject(bytesType, bytesInit));
    if (!succeeded(env, bytes.get())) return {};

    const LocalRef<jclass> printClass(env, env->FindClass("java/io/PrintStream"));
    if (!succeeded(env, printClass.get())) return {};
    const jclass printType = printClass.get();
    const jmethodID printInit = env->GetMethodID(printType, "<init>", "(Ljava/io/OutputStream;)V");
    if (!succeeded(env, printInit)) return {};
    const LocalRef<jobject> printStream(env, env->NewObject(printType, printInit, bytes.get()));
    if (!succeeded(env, printStream.get())) return {};

    const LocalRef<jclass> exceptionClass(env, env->GetObjectClass(exception));
    if (!succeeded(env, exceptionClass.get())) return {};
    const jmethodID printStackTrace = env->GetMethodID(
        exceptionClass.get(), "printStackTrace", "(Ljava/io/PrintStream;)V");
    if (!succeeded(env, printStackTrace)) return {};
    // The method is void: what CallObjectMethod gives back is no reference and must not be
    // touched (not even deleted). A throw from inside printStackTrace is printed, and what it
    // wrote before that is still reported.
    static_cast<void>(env->CallObjectMethod(exception, printStackTrace, printStream.get()));
    describePendingException(env);

    const jmethodID toString = env->GetMethodID(bytesType, "toString", "()Ljava/lang/String;");
    if (!succeeded(env, toString)) return {};
    const LocalRef<jstring> trace(env,
                                  static_cast<jstring>(env->CallObjectMethod(bytes.get(), toString)));
    describePendingException(env);
    if (!trace) return {};

    const char* characters = env->GetStringUTFChars(trace.get(), nullptr);
    if (!succeeded(env, characters)) return {};
    std::string text(characters);
    env->ReleaseStringUTFChars(trace.get(), characters);
    return text;
}

bool showUncaughtException(Launcher& launcher, jthrowable exception, JNIEnv* env) {
    const std::string trace = describeException(env, launcher, exception);
    if (trace.empty()) return false;  // nothing to show counts as Ignore
    return platform::askStopAfterException(platform::displayText(decodeModifiedUtf8(trace)));
}

}  // namespace qn
