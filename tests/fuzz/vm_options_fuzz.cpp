// The user's VM options: tokens, quotes, percentages with bounds, -Xss, %NAME% and wildcards.
#include "fake_platform.h"
#include "fuzz_input.h"
#include "text/percent_references.h"
#include "vm/vm_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    qn::fake::reset();
    const qn::platform::MemoryStatus memory{input.number(), input.number()};
    const bool wide = input.byte() & 1;
    const std::string entry = input.text();
    const std::string parameters = input.rest();

    for (const std::string& raw : qn::splitVmParameters(parameters)) {
        QN_FUZZ_CHECK(!raw.empty() && raw.size() <= parameters.size());
        const std::string token = qn::stripQuotes(raw);
        QN_FUZZ_CHECK(token.size() <= raw.size());
        if (qn::isPercentageMemoryOption(token)) {
            const std::string rewritten = qn::rewriteMemoryOption(token, memory, wide);
            QN_FUZZ_CHECK(rewritten.compare(0, 4, token, 0, 4) == 0);
        }
        if (token.compare(0, 4, "-Xss") == 0) qn::parseStackSize(token.substr(4));
    }
    const std::string expanded = qn::expandPercentReferences(
        parameters, [](const std::string& name) -> std::optional<std::string> {
            if (name == "A") return std::string("%A%");  // a value is never expanded again
            if (name == "EMPTY") return std::string();
            return std::nullopt;
        });
    QN_FUZZ_CHECK(expanded.size() <= parameters.size() * 3 + 1);

    // Wildcard entries against a small application folder.
    for (const char* file : {"C:\\App\\app.jar", "C:\\App\\lib\\a.jar", "C:\\App\\lib\\b.zip"}) qn::fake::addFile(file);
    std::string classPath;
    std::string unlistable;
    if (entry.size() < 64 && !qn::expandClassPathEntry("C:\\App\\", entry, classPath, unlistable)) {
        QN_FUZZ_CHECK(unlistable.find(';') != std::string::npos);
    }
    return 0;
}
