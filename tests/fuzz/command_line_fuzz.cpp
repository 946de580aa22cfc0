// The launcher's own command-line rule and the search for an argument.
#include "fake_platform.h"
#include "fuzz_input.h"
#include "launcher/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    qn::fake::reset();
    if (input.byte() & 1) qn::fake::system().leadBytes = {0x81, 0x82, 0xE0};  // a double-byte code page
    const std::string text = input.rest();
    const std::vector<std::string> words = qn::splitArguments(text);
    std::size_t total = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        total += words[i].size();
        // The first equal word is found, never a later one.
        const int found = qn::findArgument(words, words[i]);
        QN_FUZZ_CHECK(found >= 0 && static_cast<std::size_t>(found) <= i && words[found] == words[i]);
    }
    QN_FUZZ_CHECK(total <= text.size());
    const std::string trimmed = qn::trimWhiteSpace(text);
    QN_FUZZ_CHECK(trimmed.size() <= text.size() && text.find(trimmed) != std::string::npos);
    QN_FUZZ_CHECK(qn::trimWhiteSpace(trimmed) == trimmed);
    return 0;
}
