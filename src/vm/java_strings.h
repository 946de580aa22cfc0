#pragma once
// Launcher text to Java strings and back, and the local references that carry them.

#include <jni.h>

#include <string>
#include <utility>
#include <vector>

namespace qn {

/// Owns one JNI local reference; deletes it when it goes out of scope.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    /// Gives the reference up without deleting it.
    T release() { return std::exchange(ref_, nullptr); }

private:
    JNIEnv* env_;
    T ref_;
};

/// A new java.lang.String built through String(char[]) from the launcher's 8-bit text, so that
/// characters beyond ASCII keep their meaning; null on any failure.
jstring toJavaString(JNIEnv* env, const std::string& text);
/// A new String[] of the texts in order (empty for an empty list); null on any failure.
jobjectArray toJavaStringArray(JNIEnv* env, const std::vector<std::string>& texts);

}  // namespace qn
