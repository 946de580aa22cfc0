#include "vm/java_strings.h"

#include "platform/text_encoding.h"

namespace qn {

jstring toJavaString(JNIEnv* env, const std::string& text) {
    const std::u16string chars = platform::toUtf16(text);
    const LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) return nullptr;
    const jmethodID constructor = env->GetMethodID(stringClass.get(), "<init>", "([C)V");
    if (!constructor) return nullptr;
    const jsize length = static_cast<jsize>(chars.size());
    const LocalRef<jcharArray> array(env, env->NewCharArray(length));
    if (!array) return nullptr;
    env->SetCharArrayRegion(array.get(), 0, length, reinterpret_cast<const jchar*>(chars.data()));
    if (env->ExceptionCheck()) return nullptr;
    return static_cast<jstring>(env->NewObject(stringClass.get(), constructor, array.get()));
}

jobjectArray toJavaStringArray(JNIEnv* env, const std::vector<std::string>& texts) {
    const LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) return nullptr;
    LocalRef<jobjectArray> array(
        env, env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass.get(), nullptr));
    if (!array) return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const LocalRef<jstring> element(env, toJavaString(env, texts[i]));
        if (!element) return nullptr;
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(i), element.get());
    }
    return array.release();
}

}  // namespace qn
