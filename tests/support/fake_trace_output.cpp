// The fake trace output: lines land in the fake file system or in a standard-error text.

#include "fake_platform.h"

#include <sstream>

#include "platform/trace_output.h"
#include "trace/trace.h"

namespace qn::fake {

namespace {

std::string traceFile() {
    return system().conventions->style == PathStyle::Windows ? "C:\\Trace\\trace.txt"
                                                             : "/trace/trace.txt";
}

}  // namespace

void startTrace() {
    const std::string file = traceFile();
    addDirectory(file.substr(0, file.rfind(system().conventions->pathSeparator)));
    system().environment["QN_LAUNCHER_TRACE"] = file;
    trace::restart();
}

std::vector<std::string> tracedLines() {
    std::vector<std::string> lines;
    std::istringstream in(system().files[traceFile()]);
    for (std::string line; std::getline(in, line);) {
        const std::size_t end = line.find("] ");
        lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return lines;
}

}  // namespace qn::fake

namespace qn::platform {

class TraceOutput {
public:
    explicit TraceOutput(std::optional<std::string> path) : path(std::move(path)) {}
    std::optional<std::string> path;  // none: standard error
};

void TraceOutputDeleter::operator()(TraceOutput* output) const { delete output; }

TraceOutputPtr openTraceFile(const std::string& path) {
    fake::FakeSystem& system = fake::system();
    const std::size_t cut = path.rfind(system.conventions->pathSeparator);
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut);
    if (system.unwritableFiles.count(path) || system.directories.count(path) ||
        (!folder.empty() && !system.directories.count(folder))) {
        return nullptr;
    }
    system.files[path];  // created when missing, kept otherwise
    return TraceOutputPtr(new TraceOutput(path));
}

TraceOutputPtr openTraceStandardError() {
    if (!fake::system().hasStandardError) return nullptr;
    return TraceOutputPtr(new TraceOutput(std::nullopt));
}

bool writeTraceLine(TraceOutput& output, const std::string& line) {
    fake::FakeSystem& system = fake::system();
    if (!output.path) {
        system.standardError += line + '\n';
        return true;
    }
    // A file made unwritable after the open stands for a full disk.
    if (system.unwritableFiles.count(*output.path)) return false;
    system.files[*output.path] += line + '\n';
    return true;
}

std::optional<std::uint64_t> processAgeMilliseconds() { return fake::system().processAgeMs; }

std::string temporaryFolder() { return fake::system().temporaryFolder; }

}  // namespace qn::platform
