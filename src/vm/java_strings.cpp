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

std::u16string fromModifiedUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4 : 0;
        bool valid = length != 0 && i + length <= text.size();
        char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        // Surrogates arrive one by one (three bytes each) and pass through as they are.
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

std::string displayText(const std::string& modifiedUtf8) {
    return platform::fromUtf16(fromModifiedUtf8(modifiedUtf8));
}

}  // namespace qn
