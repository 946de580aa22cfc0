#include "vm/runtime_library.h"

#include "launcher/launcher.h"
#include "res/resource_ids.h"
#include "vm/launcher_error.h"

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
    return true;
}

// Creation arrives with the VM work.
bool createJavaVm(Launcher&) { return false; }

void destroyJavaVm(Launcher& launcher) {
    if (launcher.javaVm) launcher.javaVm->DestroyJavaVM();
}

}  // namespace qn
