#include "runtime/missing_runtime.h"

#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "res/resource_ids.h"
#include "runtime/runtime_search.h"
#include "runtime/runtime_sources.h"
#include "trace/trace.h"
#include "vm/launcher_error.h"

namespace qn {

std::string missingRuntimeMessage(const Launcher& launcher) {
    const int id = launcher.jvmType == JvmType::ServerOnly ? IDS_JRE_NOT_FOUND_SERVER : IDS_JRE_NOT_FOUND;
    return formatError(
        LauncherError(id, describeVersionRequirement(launcher.minimumVersion, launcher.maximumVersion)));
}

bool resolveMissingRuntime(Launcher& launcher) {
    const JvmType jvmType = launcher.jvmType;
    trace::line("runtime", "none found; asking the user for a runtime folder");
    const auto chosen = platform::askForRuntimeFolder(
        missingRuntimeMessage(launcher),
        [jvmType](const std::string& pickedPath) {
            platform::RuntimeFolderVerdict verdict;
            if (pickedPath.empty()) return verdict;
            verdict.folder = platform::conventions().withTrailingSeparator(pickedPath);
            JvmLibraryLookup lookup = lookupJvmLibrary(verdict.folder, jvmType);
            verdict.jvmLibrary = std::move(lookup.path);
            if (verdict.jvmLibrary.empty() && !lookup.otherMachinePath.empty()) {
                verdict.problem = loadText(lookup.otherMachineBits == 32 ? IDS_RUNTIME_IS_32_BIT : IDS_RUNTIME_IS_64_BIT);
            }
            return verdict;
        });
    // A choice without a library would leave the run phase nothing to load.
    if (!chosen || chosen->jvmLibrary.empty()) {
        trace::line("runtime", "the user chose no runtime");
        return false;
    }
    launcher.jvmLibraryPath = chosen->jvmLibrary;
    launcher.legacyIbmRuntime = isLegacyIbmHome(chosen->folder, chosen->jvmLibrary);
    if (trace::enabled()) {
        trace::line("runtime", "the user chose " + chosen->folder + ": library " + chosen->jvmLibrary);
    }
    // The folder the user picked is used whatever its version; remembering it may fail silently.
    rememberJrePath(launcher, chosen->folder);
    return true;
}

}  // namespace qn
