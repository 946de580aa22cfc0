#include "vm/runtime_library.h"

#include <vector>

#include "launcher/launcher.h"
#include "launcher/trace.h"
#include "res/resource_ids.h"
#include "vm/launcher_error.h"
#include "vm/main_invocation.h"

namespace qn {

bool loadRuntimeLibrary(Launcher& launcher) {
    std::uint32_t errorCode = 0;
    void* library = platform::loadLibrary(launcher.jvmLibraryPath, errorCode);
    if (!library) {
        reportError({IDS_VM_LIBRARY_LOAD_FAILED, launcher.jvmLibraryPath,
                     static_cast<std::int32_t>(errorCode)},
                    launcher.messageOwner);
        return false;
    }
    launcher.createJavaVmProc = reinterpret_cast<CreateJavaVmProc>(
        platform::librarySymbol(library, "JNI_CreateJavaVM", errorCode));
    if (launcher.createJavaVmProc) {
        launcher.defaultInitArgsProc = reinterpret_cast<DefaultInitArgsProc>(
            platform::librarySymbol(library, "JNI_GetDefaultJavaVMInitArgs", errorCode));
    }
    if (!launcher.createJavaVmProc || !launcher.defaultInitArgsProc) {
        reportError({IDS_WINDOWS_EXCEPTION, loadText(IDS_NO_CREATE_JAVA_VM),
                     static_cast<std::int32_t>(errorCode)},
                    launcher.messageOwner);
        return false;
    }
    if (trace::enabled()) trace::line("vm", "loaded " + launcher.jvmLibraryPath);
    return true;
}

std::string creationFailureReason(jint result) {
    // JNI_ERR (-1) to JNI_EINVAL (-6) have the texts 225 to 230; other codes have none.
    if (result <= JNI_ERR && result >= JNI_EINVAL) return loadText(IDS_JNI_ERR - 1 - result);
    return {};
}

namespace {

// A program that calls System.exit ends the process inside the runtime, past the launcher's own
// last line; the runtime calls this hook first, so the trace still gets the exit code.
void JNICALL traceRuntimeExit(jint code) {
    trace::line("launcher", "exit code " + std::to_string(code) + " (the program ended the process)");
}

char exitHookOption[] = "exit";

}  // namespace

bool createJavaVm(Launcher& launcher) {
    std::vector<JavaVMOption> options(launcher.vmOptions.size());
    for (std::size_t i = 0; i < options.size(); ++i) {
        options[i].optionString = const_cast<char*>(launcher.vmOptions[i].c_str());
        options[i].extraInfo = nullptr;
    }
    // Only a traced start has the hook: without the trace the runtime gets exactly the list.
    if (trace::enabled()) {
        options.push_back({exitHookOption, reinterpret_cast<void*>(&traceRuntimeExit)});
    }
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    if (trace::enabled()) {
        trace::line("vm", "creating the VM with " + std::to_string(options.size()) + " options");
        for (const JavaVMOption& option : options) trace::line("option", option.optionString);
    }

    // Kept apart until success, so a failed creation leaves nothing for teardown to destroy.
    JavaVM* javaVm = nullptr;
    JNIEnv* jniEnv = nullptr;
    const jint result = launcher.createJavaVmProc(&javaVm, reinterpret_cast<void**>(&jniEnv), &args);
    if (result != JNI_OK) {
        reportError({IDS_JNI_EXCEPTION, loadText(IDS_CREATE_VM_FAILED), creationFailureReason(result)},
                    launcher.messageOwner);
        return false;
    }
    launcher.javaVm = javaVm;
    launcher.jniEnv = jniEnv;
    trace::line("vm", "created");

    // A stream that cannot be redirected keeps its target; the program still runs.
    if (!launcher.outputFile.empty() &&
        !redirectStandardStream(launcher, launcher.outputFile, StandardStream::Output)) {
        if (jniEnv->ExceptionCheck()) jniEnv->ExceptionDescribe();
    }
    if (!launcher.errorFile.empty() &&
        !redirectStandardStream(launcher, launcher.errorFile, StandardStream::Error)) {
        if (jniEnv->ExceptionCheck()) jniEnv->ExceptionDescribe();
    }
    return true;
}

void destroyJavaVm(Launcher& launcher) {
    if (launcher.javaVm) launcher.javaVm->DestroyJavaVM();
}

}  // namespace qn
