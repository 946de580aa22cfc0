// The stand-in runtime: a library with the runtime's entry points that records what the launcher
// hands it and plays back a script. Test code only; see README.md for the script and the record.

// The entry points are defined here, not imported.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "standin_system.h"
#include "standin_text.h"
#include "vm/jdk11_init_args.h"

namespace standin {

namespace {

// --- Script and record ---------------------------------------------------------------------------

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

class Script {
public:
    Script() {
        const auto path = environment("QN_STANDIN_SCRIPT");
        if (!path) return;
        std::ifstream in(nativePath(*path), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos) continue;
            values_.emplace_back(line.substr(0, equals), unescape(line.substr(equals + 1)));
        }
    }

    std::optional<std::string> get(const std::string& key) const {
        std::optional<std::string> found;
        for (const auto& value : values_) {
            if (value.first == key) found = value.second;  // the last one wins
        }
        return found;
    }
    std::string get(const std::string& key, const std::string& fallback) const {
        return get(key).value_or(fallback);
    }
    int number(const std::string& key, int fallback) const {
        const auto value = get(key);
        return value ? std::atoi(value->c_str()) : fallback;
    }
    std::vector<std::string> all(const std::string& key) const {
        std::vector<std::string> found;
        for (const auto& value : values_) {
            if (value.first == key) found.push_back(value.second);
        }
        return found;
    }

private:
    std::vector<std::pair<std::string, std::string>> values_;
};

const Script& script() {
    static const Script instance;
    return instance;
}

std::mutex recordLock;

void record(const std::string& key, const std::string& value) {
    const auto path = environment("QN_STANDIN_RECORD");
    if (!path) return;
    const std::lock_guard<std::mutex> guard(recordLock);
    std::FILE* file = std::fopen(nativePath(*path).c_str(), "ab");
    if (!file) return;
    const std::string line = key + "=" + escape(value) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

std::string dotted(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

std::string slashed(std::string name) {
    for (char& c : name) {
        if (c == '.') c = '/';
    }
    return name;
}

// --- Objects -------------------------------------------------------------------------------------

enum class Kind { Class, String, CharArray, ObjectArray, FileStream, PrintStream, ByteStream,
                  Throwable, Plain };

struct Object {
    Kind kind;
    std::string className;  // a Class object's own name; otherwise the object's class
    std::u16string chars;   // String, CharArray
    std::vector<Object*> elements;  // ObjectArray
    Object* target = nullptr;       // PrintStream: the stream it writes to
    std::string bytes;              // ByteStream contents
    std::string text;               // Throwable: its toString
    std::string trace;              // Throwable: what printStackTrace prints
};

struct Method {
    std::string className;
    std::string name;
    std::string signature;
    bool isStatic;
};

// Objects live as long as the process; the launcher's runs are short.
Object* make(Kind kind, std::string className) {
    auto* object = new Object{};
    object->kind = kind;
    object->className = std::move(className);
    return object;
}

Object* obj(jobject handle) { return reinterpret_cast<Object*>(handle); }
jobject handle(Object* object) { return reinterpret_cast<jobject>(object); }

Object* makeString(const std::u16string& chars) {
    Object* string = make(Kind::String, "java/lang/String");
    string->chars = chars;
    return string;
}

const std::map<std::string, std::string>& superclasses() {
    static const std::map<std::string, std::string> table = {
        {"java/lang/Throwable", "java/lang/Object"},
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
        {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/io/IOException", "java/lang/Exception"},
        {"java/io/FileNotFoundException", "java/io/IOException"},
    };
    return table;
}

bool isSubclass(std::string name, const std::string& ancestor) {
    for (int depth = 0; depth < 16 && !name.empty(); ++depth) {
        if (name == ancestor) return true;
        const auto it = superclasses().find(name);
        name = it == superclasses().end() ? std::string() : it->second;
    }
    return ancestor == "java/lang/Object";
}

// A thrown exception, as the script or a failing call describes it ("java.lang.X: message").
Object* makeThrowable(const std::string& description, const std::string& trace) {
    const std::size_t colon = description.find(": ");
    Object* throwable = make(Kind::Throwable, slashed(description.substr(0, colon)));
    throwable->text = description;
    throwable->trace = trace.empty() ? description + "\n" : trace;
    return throwable;
}

thread_local Object* pendingException = nullptr;

void raise(const std::string& description, const std::string& trace = {}) {
    pendingException = makeThrowable(description, trace);
}

// --- Standard streams ----------------------------------------------------------------------------

Object* systemOut = nullptr;  // null: the process's own standard stream
Object* systemErr = nullptr;

void writeTo(Object* stream, bool isError, const std::string& text) {
    while (stream && stream->kind == Kind::PrintStream) stream = stream->target;
    if (!stream) {
        std::FILE* file = isError ? stderr : stdout;
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    } else if (stream->kind == Kind::ByteStream) {
        stream->bytes += text;
    } else if (stream->kind == Kind::FileStream) {
        writeFile(stream->chars, text, true);
    }
}

std::string describeStream(Object* stream) {
    while (stream && stream->kind == Kind::PrintStream) stream = stream->target;
    if (!stream) return "standard";
    if (stream->kind == Kind::FileStream) return toUtf8(stream->chars);
    return "bytes";
}

// --- Java methods the stand-in knows ---------------------------------------------------------------

const char* const mainSignature = "([Ljava/lang/String;)V";

bool hasStaticMethod(const std::string& className, const std::string& name,
                     const std::string& signature) {
    if (className == "java/lang/System") {
        return ((name == "setOut" || name == "setErr") && signature == "(Ljava/io/PrintStream;)V") ||
               (name == "exit" && signature == "(I)V");
    }
    if (name == "main") {
        return signature == mainSignature && script().get("main", "void") == "void";
    }
    if (name == "secondaryMain") {
        const std::string kind = script().get("secondaryMain", "none");
        return (kind == "void" && signature == "([Ljava/lang/String;)V") ||
               (kind == "int" && signature == "([Ljava/lang/String;)I");
    }
    return false;
}

bool hasMethod(const std::string& className, const std::string& name, const std::string& signature) {
    if (name == "<init>") {
        return (className == "java/lang/String" && signature == "([C)V") ||
               (className == "java/io/FileOutputStream" && signature == "(Ljava/lang/String;)V") ||
               (className == "java/io/PrintStream" && signature == "(Ljava/io/OutputStream;)V") ||
               (className == "java/io/ByteArrayOutputStream" && signature == "()V");
    }
    if (name == "toString") return signature == "()Ljava/lang/String;";
    if (name == "printStackTrace") return signature == "(Ljava/io/PrintStream;)V";
    return false;
}

std::vector<std::string> stringArray(Object* array) {
    std::vector<std::string> texts;
    if (!array) return texts;
    for (Object* element : array->elements) texts.push_back(element ? toUtf8(element->chars) : "(null)");
    return texts;
}

std::mutex argumentsLock;

// Calls on several threads at once (secondaryMain) keep their lines together.
void recordArguments(const std::string& method, Object* array) {
    const std::vector<std::string> texts = stringArray(array);
    const std::lock_guard<std::mutex> guard(argumentsLock);
    record(method + ".argc", std::to_string(texts.size()));
    for (const std::string& text : texts) record(method + ".arg", text);
}

bool fileExists(const std::string& path) {
    std::FILE* file = std::fopen(nativePath(path).c_str(), "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// --- The hooks the launcher hands over as options ("vfprintf", "exit", "abort") ------------------

using OutputHook = jint(JNICALL*)(FILE*, const char*, va_list);
using ExitHook = void(JNICALL*)(jint);
using AbortHook = void(JNICALL*)();

OutputHook outputHook = nullptr;
ExitHook exitHook = nullptr;
AbortHook abortHook = nullptr;

void takeHooks(const JavaVMInitArgs* args) {
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption& option = args->options[i];
        if (!option.optionString) continue;
        const std::string name = option.optionString;
        if (name == "vfprintf") outputHook = reinterpret_cast<OutputHook>(option.extraInfo);
        if (name == "exit") exitHook = reinterpret_cast<ExitHook>(option.extraInfo);
        if (name == "abort") abortHook = reinterpret_cast<AbortHook>(option.extraInfo);
    }
}

// What a runtime prints: through the output hook when it has one, as HotSpot does.
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (outputHook) {
        outputHook(stderr, format, args);
    } else {
        std::vfprintf(stderr, format, args);
    }
    va_end(args);
}

// A runtime ends the process: the exit hook first (which may return), then the end itself.
[[noreturn]] void endProcess(int code) {
    if (exitHook) exitHook(code);
    exitProcess(code);
}

[[noreturn]] void systemExit(int code) {
    record("exit", std::to_string(code));
    endProcess(code);
}

void runMain(const std::string& className, Object* arguments) {
    record("main.class", className);
    recordArguments("main", arguments);
    for (const std::string& text : script().all("main.stdout")) writeTo(systemOut, false, text + "\n");
    for (const std::string& text : script().all("main.stderr")) writeTo(systemErr, true, text + "\n");
    if (script().get("main.echo") == "arguments") {
        for (const std::string& text : stringArray(arguments)) writeTo(systemOut, false, text + "\n");
    }
    if (const auto prefix = script().get("main.echoInput")) {
        char line[4096];
        while (std::fgets(line, sizeof line, stdin)) writeTo(systemOut, false, *prefix + line);
    }
    if (const auto path = script().get("main.waitFor")) {
        record("main.waiting", *path);
        while (!fileExists(*path)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (const auto pause = script().get("main.sleep")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(pause->c_str())));
    }
    if (const auto code = script().get("main.exit")) systemExit(std::atoi(code->c_str()));
    if (const auto thrown = script().get("main.throw")) {
        const std::string trace = script().get(
            "main.trace", *thrown + "\n\tat " + dotted(className) + ".main(Main.java)\n");
        raise(*thrown, trace);
    }
}

jint runSecondaryMain(Object* arguments) {
    recordArguments("secondaryMain", arguments);
    if (const auto pause = script().get("secondaryMain.sleep")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(pause->c_str())));
    }
    const std::vector<std::string> texts = stringArray(arguments);
    record("secondaryMain.return", texts.empty() ? std::string() : texts[0]);
    if (const auto thrown = script().get("secondaryMain.throw")) raise(*thrown);
    // "first": the number the first argument holds, so each caller can be told its own result.
    if (script().get("secondaryMain.result") == "first") {
        return texts.empty() ? 0 : std::atoi(texts[0].c_str());
    }
    return script().number("secondaryMain.result", 0);
}

// --- The JNI environment --------------------------------------------------------------------------

JNIEnv* environmentPointer();
JavaVM* machinePointer();

jint JNICALL GetVersion(JNIEnv*) { return JNI_VERSION_1_8; }

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    record("findClass", name);
    for (const std::string& missing : script().all("class.missing")) {
        if (slashed(missing) == name) {
            raise("java.lang.NoClassDefFoundError: " + std::string(name));
            return nullptr;
        }
    }
    return reinterpret_cast<jclass>(make(Kind::Class, name));
}

jint JNICALL Throw(JNIEnv*, jthrowable throwable) {
    pendingException = obj(throwable);
    return 0;
}

jint JNICALL ThrowNew(JNIEnv*, jclass cls, const char* message) {
    raise(dotted(obj(cls)->className) + ": " + message);
    return 0;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) { return reinterpret_cast<jthrowable>(pendingException); }

void JNICALL ExceptionDescribe(JNIEnv*) {
    if (!pendingException) return;
    record("describe", pendingException->text);
    writeTo(systemErr, true, "Exception in thread \"main\" " + pendingException->trace);
    pendingException = nullptr;
}

void JNICALL ExceptionClear(JNIEnv*) { pendingException = nullptr; }
jboolean JNICALL ExceptionCheck(JNIEnv*) { return pendingException ? JNI_TRUE : JNI_FALSE; }

jobject JNICALL NewGlobalRef(JNIEnv*, jobject object) { return object; }
void JNICALL DeleteGlobalRef(JNIEnv*, jobject) {}
void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}
jobject JNICALL NewLocalRef(JNIEnv*, jobject object) { return object; }
jint JNICALL EnsureLocalCapacity(JNIEnv*, jint) { return 0; }
jint JNICALL PushLocalFrame(JNIEnv*, jint) { return 0; }
jobject JNICALL PopLocalFrame(JNIEnv*, jobject result) { return result; }
jboolean JNICALL IsSameObject(JNIEnv*, jobject a, jobject b) { return a == b ? JNI_TRUE : JNI_FALSE; }

jclass JNICALL GetObjectClass(JNIEnv*, jobject object) {
    return reinterpret_cast<jclass>(make(Kind::Class, obj(object)->className));
}

jboolean JNICALL IsInstanceOf(JNIEnv*, jobject object, jclass cls) {
    if (!object) return JNI_TRUE;
    return isSubclass(obj(object)->className, obj(cls)->className) ? JNI_TRUE : JNI_FALSE;
}

jmethodID findMethod(jclass cls, const char* name, const char* signature, bool isStatic) {
    const std::string className = obj(cls)->className;
    record(isStatic ? "getStaticMethodID" : "getMethodID",
           className + "." + name + signature);
    const bool known = isStatic ? hasStaticMethod(className, name, signature)
                                : hasMethod(className, name, signature);
    if (!known) {
        if (!(isStatic && std::strcmp(name, "main") == 0 && script().get("main") == "quiet")) {
            raise("java.lang.NoSuchMethodError: " + std::string(name));
        }
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(new Method{className, name, signature, isStatic});
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    return findMethod(cls, name, signature, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    return findMethod(cls, name, signature, true);
}

Method* method(jmethodID id) { return reinterpret_cast<Method*>(id); }

jobject JNICALL NewObjectV(JNIEnv*, jclass cls, jmethodID id, va_list args) {
    const std::string className = obj(cls)->className;
    const Method* constructor = method(id);
    if (className == "java/lang/String") {
        return handle(makeString(obj(va_arg(args, jobject))->chars));
    }
    if (className == "java/io/FileOutputStream") {
        Object* path = obj(va_arg(args, jobject));
        record("open", toUtf8(path->chars));
        if (!writeFile(path->chars, std::string(), false)) {
            raise("java.io.FileNotFoundException: " + toUtf8(path->chars) +
                  " (The system cannot find the path specified)");
            return nullptr;
        }
        Object* stream = make(Kind::FileStream, className);
        stream->chars = path->chars;
        return handle(stream);
    }
    if (className == "java/io/PrintStream") {
        Object* stream = make(Kind::PrintStream, className);
        stream->target = obj(va_arg(args, jobject));
        return handle(stream);
    }
    if (className == "java/io/ByteArrayOutputStream") return handle(make(Kind::ByteStream, className));
    (void)constructor;
    return handle(make(Kind::Plain, className));
}

jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = NewObjectV(env, cls, id, args);
    va_end(args);
    return result;
}

jobject JNICALL NewObjectA(JNIEnv*, jclass cls, jmethodID, const jvalue* args) {
    const std::string className = obj(cls)->className;
    if (className == "java/lang/String") return handle(makeString(obj(args[0].l)->chars));
    return handle(make(Kind::Plain, className));
}

void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass cls, jmethodID id, va_list args) {
    const Method* target = method(id);
    if (target->className == "java/lang/System") {
        if (target->name == "exit") systemExit(va_arg(args, jint));
        Object* stream = obj(va_arg(args, jobject));
        record(target->name, describeStream(stream));
        (target->name == "setOut" ? systemOut : systemErr) = stream;
        return;
    }
    Object* arguments = obj(va_arg(args, jobject));
    if (target->name == "main") {
        runMain(obj(cls)->className, arguments);
    } else if (target->name == "secondaryMain") {
        runSecondaryMain(arguments);
    }
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    CallStaticVoidMethodV(env, cls, id, args);
    va_end(args);
}

jint JNICALL CallStaticIntMethodV(JNIEnv*, jclass, jmethodID id, va_list args) {
    if (method(id)->name != "secondaryMain") return 0;
    return runSecondaryMain(obj(va_arg(args, jobject)));
}

jint JNICALL CallStaticIntMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    const jint result = CallStaticIntMethodV(env, cls, id, args);
    va_end(args);
    return result;
}

void printStackTrace(Object* self, Object* stream) {
    record("printStackTrace", self->text);
    // A throwable whose printing fails: what it wrote first, then the failure.
    if (const auto failure = script().get("printStackTrace.throw")) {
        writeTo(stream, true, script().get("printStackTrace.written", ""));
        raise(*failure);
        return;
    }
    writeTo(stream, true, self->trace);
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject target, jmethodID id, va_list args) {
    Object* self = obj(target);
    // A void method called through the object form still runs; its result is null.
    if (method(id)->name == "printStackTrace") {
        printStackTrace(self, obj(va_arg(args, jobject)));
        return nullptr;
    }
    if (method(id)->name != "toString") return nullptr;
    record("toString", self->className);
    if (self->kind == Kind::ByteStream) return handle(makeString(fromUtf8(self->bytes)));
    if (self->kind == Kind::Throwable) return handle(makeString(fromUtf8(self->text)));
    if (self->kind == Kind::String) return target;
    return handle(makeString(fromUtf8(dotted(self->className))));
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject target, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = CallObjectMethodV(env, target, id, args);
    va_end(args);
    return result;
}

void JNICALL CallVoidMethodV(JNIEnv*, jobject target, jmethodID id, va_list args) {
    Object* self = obj(target);
    if (method(id)->name != "printStackTrace") return;
    printStackTrace(self, obj(va_arg(args, jobject)));
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject target, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    CallVoidMethodV(env, target, id, args);
    va_end(args);
}

jstring JNICALL NewString(JNIEnv*, const jchar* chars, jsize length) {
    return reinterpret_cast<jstring>(makeString(std::u16string(chars, chars + length)));
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* text) {
    return reinterpret_cast<jstring>(makeString(fromUtf8(text)));
}

jsize JNICALL GetStringLength(JNIEnv*, jstring string) {
    return static_cast<jsize>(obj(string)->chars.size());
}

const jchar* JNICALL GetStringChars(JNIEnv*, jstring string, jboolean* isCopy) {
    if (isCopy) *isCopy = JNI_FALSE;
    return reinterpret_cast<const jchar*>(obj(string)->chars.c_str());
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}

jsize JNICALL GetStringUTFLength(JNIEnv*, jstring string) {
    return static_cast<jsize>(toModifiedUtf8(obj(string)->chars).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring string, jboolean* isCopy) {
    if (isCopy) *isCopy = JNI_TRUE;
    if (script().get("getStringUTFChars") == "fail") return nullptr;
    const std::string text = toModifiedUtf8(obj(string)->chars);
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char* chars) {
    std::free(const_cast<char*>(chars));
}

jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
    Object* self = obj(array);
    return static_cast<jsize>(self->kind == Kind::CharArray ? self->chars.size() : self->elements.size());
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass cls, jobject initial) {
    Object* array = make(Kind::ObjectArray, "[L" + obj(cls)->className + ";");
    array->elements.assign(static_cast<std::size_t>(length), obj(initial));
    return reinterpret_cast<jobjectArray>(array);
}

jobject JNICALL GetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index) {
    return handle(obj(array)->elements.at(static_cast<std::size_t>(index)));
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    obj(array)->elements.at(static_cast<std::size_t>(index)) = obj(value);
}

jcharArray JNICALL NewCharArray(JNIEnv*, jsize length) {
    Object* array = make(Kind::CharArray, "[C");
    array->chars.assign(static_cast<std::size_t>(length), u'\0');
    return reinterpret_cast<jcharArray>(array);
}

void JNICALL SetCharArrayRegion(JNIEnv*, jcharArray array, jsize start, jsize length,
                                const jchar* chars) {
    std::u16string& target = obj(array)->chars;
    for (jsize i = 0; i < length; ++i) target.at(static_cast<std::size_t>(start + i)) = chars[i];
}

void JNICALL GetCharArrayRegion(JNIEnv*, jcharArray array, jsize start, jsize length, jchar* chars) {
    const std::u16string& source = obj(array)->chars;
    for (jsize i = 0; i < length; ++i) chars[i] = source.at(static_cast<std::size_t>(start + i));
}

jint JNICALL GetJavaVM(JNIEnv*, JavaVM** vm) {
    *vm = machinePointer();
    return 0;
}

// Every slot the stand-in does not implement stops the process and names its index in the table,
// so a test that needs one more function learns which at once.
template <std::size_t Slot>
void JNICALL missingFunction() {
    record("missingFunction", std::to_string(Slot));
    std::fprintf(stderr, "stand-in runtime: JNI function slot %u is not implemented\n",
                 static_cast<unsigned>(Slot));
    std::abort();
}

template <std::size_t... Slots>
void fillWithTraps(void** slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void*>(&missingFunction<Slots>)), ...);
}

template <typename Table>
void fillTable(Table& table) {
    constexpr std::size_t count = sizeof(Table) / sizeof(void*);
    void* slots[count];
    fillWithTraps(slots, std::make_index_sequence<count>{});
    std::memcpy(static_cast<void*>(&table), slots, sizeof slots);
}

JNINativeInterface_ makeEnvironmentTable() {
    JNINativeInterface_ t;
    fillTable(t);
    t.GetVersion = GetVersion;
    t.FindClass = FindClass;
    t.Throw = Throw;
    t.ThrowNew = ThrowNew;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.ExceptionCheck = ExceptionCheck;
    t.NewGlobalRef = NewGlobalRef;
    t.DeleteGlobalRef = DeleteGlobalRef;
    t.DeleteLocalRef = DeleteLocalRef;
    t.NewLocalRef = NewLocalRef;
    t.EnsureLocalCapacity = EnsureLocalCapacity;
    t.PushLocalFrame = PushLocalFrame;
    t.PopLocalFrame = PopLocalFrame;
    t.IsSameObject = IsSameObject;
    t.GetObjectClass = GetObjectClass;
    t.IsInstanceOf = IsInstanceOf;
    t.GetMethodID = GetMethodID;
    t.GetStaticMethodID = GetStaticMethodID;
    t.NewObject = NewObject;
    t.NewObjectV = NewObjectV;
    t.NewObjectA = NewObjectA;
    t.CallStaticVoidMethod = CallStaticVoidMethod;
    t.CallStaticVoidMethodV = CallStaticVoidMethodV;
    t.CallStaticIntMethod = CallStaticIntMethod;
    t.CallStaticIntMethodV = CallStaticIntMethodV;
    t.CallObjectMethod = CallObjectMethod;
    t.CallObjectMethodV = CallObjectMethodV;
    t.CallVoidMethod = CallVoidMethod;
    t.CallVoidMethodV = CallVoidMethodV;
    t.NewString = NewString;
    t.NewStringUTF = NewStringUTF;
    t.GetStringLength = GetStringLength;
    t.GetStringChars = GetStringChars;
    t.ReleaseStringChars = ReleaseStringChars;
    t.GetStringUTFLength = GetStringUTFLength;
    t.GetStringUTFChars = GetStringUTFChars;
    t.ReleaseStringUTFChars = ReleaseStringUTFChars;
    t.GetArrayLength = GetArrayLength;
    t.NewObjectArray = NewObjectArray;
    t.GetObjectArrayElement = GetObjectArrayElement;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.NewCharArray = NewCharArray;
    t.SetCharArrayRegion = SetCharArrayRegion;
    t.GetCharArrayRegion = GetCharArrayRegion;
    t.GetJavaVM = GetJavaVM;
    return t;
}

// --- The invocation interface ---------------------------------------------------------------------

jint JNICALL DestroyJavaVM(JavaVM*) {
    record("destroy", "");
    return 0;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** env, void*) {
    record("attach", "");
    const jint result = script().number("attach.result", 0);
    if (result == 0) *env = environmentPointer();
    return result;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    record("detach", "");
    return script().number("detach.result", 0);
}

jint JNICALL GetEnv(JavaVM*, void** env, jint) {
    *env = environmentPointer();
    return 0;
}

JNIInvokeInterface_ makeInvokeTable() {
    JNIInvokeInterface_ t;
    fillTable(t);
    t.DestroyJavaVM = DestroyJavaVM;
    t.AttachCurrentThread = AttachCurrentThread;
    t.DetachCurrentThread = DetachCurrentThread;
    t.GetEnv = GetEnv;
    t.AttachCurrentThreadAsDaemon = AttachCurrentThread;
    return t;
}

JNIEnv* environmentPointer() {
    static const JNINativeInterface_ table = makeEnvironmentTable();
    static JNIEnv env{&table};
    return &env;
}

JavaVM* machinePointer() {
    static const JNIInvokeInterface_ table = makeInvokeTable();
    static JavaVM vm{&table};
    return &vm;
}

[[maybe_unused]] jint createJavaVm(JavaVM** vm, void** env, void* rawArgs) {
    const auto* args = static_cast<const JavaVMInitArgs*>(rawArgs);
    char version[16];
    std::snprintf(version, sizeof version, "0x%x", static_cast<unsigned>(args->version));
    record("create.version", version);
    record("create.ignoreUnrecognized", std::to_string(static_cast<int>(args->ignoreUnrecognized)));
    record("create.nOptions", std::to_string(args->nOptions));
    for (jint i = 0; i < args->nOptions; ++i) {
        record("option", args->options[i].optionString ? platformTextToUtf8(args->options[i].optionString) : "(null)");
        if (args->options[i].extraInfo) record("option.extraInfo", "set");
    }
    // Windows names the search path "Path" (and matches names in any case), Linux "PATH".
    if (const auto path = environment("Path")) {
        record("env.Path", platformTextToUtf8(*path));
    } else if (const auto posixPath = environment("PATH")) {
        record("env.Path", platformTextToUtf8(*posixPath));
    }
    for (const char* name : {"QN_JVM_PATH", "QN_JVM_HOME"}) {
        if (const auto value = environment(name)) record(std::string("env.") + name, platformTextToUtf8(*value));
    }
    record("create.stackSize", std::to_string(currentThreadStackSize()));
    if (const auto pause = script().get("create.sleep")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(pause->c_str())));
    }
    takeHooks(args);
    for (const std::string& text : script().all("create.say")) say("%s\n", text.c_str());
    // A runtime that cannot start may end the process itself, as HotSpot does for a heap it
    // cannot reserve: through the abort hook and exit(1), or through the exit hook.
    if (script().get("create.end") == "abort") {
        record("create.end", "abort");
        if (abortHook) abortHook();
        exitProcess(1);
    }
    if (const auto code = script().get("create.exit")) {
        record("create.end", "exit " + *code);
        endProcess(std::atoi(code->c_str()));
    }
    const jint result = script().number("create.result", 0);
    record("create.result", std::to_string(result));
    if (result == 0) {
        *vm = machinePointer();
        *env = environmentPointer();
    }
    return result;
}

}  // namespace

}  // namespace standin

extern "C" {

#ifndef QN_STANDIN_NO_ENTRY_POINTS

#ifdef QN_STANDIN_DEPENDENCY
// Imported from the library beside the runtime; which copy answers tells where it came from.
__declspec(dllimport) const char* qn_standin_dependency_origin();
#endif

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
#ifdef QN_STANDIN_DEPENDENCY
    standin::record("dependency", qn_standin_dependency_origin());
#endif
    return standin::createJavaVm(vm, env, args);
}

#ifndef QN_STANDIN_NO_DEFAULT_ARGS
JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    auto* initArgs = static_cast<qn::Jdk11InitArgs*>(args);
    char version[16];
    std::snprintf(version, sizeof version, "0x%x", static_cast<unsigned>(initArgs->version));
    standin::record("defaultInitArgs.version", version);
    if (initArgs->version == JNI_VERSION_1_1) {
        initArgs->javaStackSize = standin::script().number("default.stackSize", 0);
    }
    return 0;
}
#endif

#ifdef QN_STANDIN_MISSING_DEPENDENCY
__declspec(dllimport) int qn_missing_dependency_marker();
#endif

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM**, jsize, jsize* count) {
#ifdef QN_STANDIN_MISSING_DEPENDENCY
    // The import that keeps the library from loading.
    *count = qn_missing_dependency_marker();
#else
    *count = 0;
#endif
    return 0;
}

#else

// A library that loads but offers none of the runtime's entry points.
JNIEXPORT int standin_no_entry_points() { return 0; }

#endif

}  // extern "C"
