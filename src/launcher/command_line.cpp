#include "launcher/command_line.h"

#include <iterator>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "vm/environment.h"

namespace qn {

std::string trimWhiteSpace(const std::string& text) {
    // Walk by characters so a trail byte of a multi-byte character is never taken for a space.
    std::size_t begin = 0;
    while (begin < text.size() && platform::isSpaceCharacter(text, begin)) {
        begin = platform::nextCharacter(text, begin);
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size(); i = platform::nextCharacter(text, i)) {
        if (!platform::isSpaceCharacter(text, i)) end = platform::nextCharacter(text, i);
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end;
        if (text[pos] == '"') {
            end = text.find('"', pos + 1);
            if (end == std::string::npos) {
                words.push_back(text.substr(pos + 1));
                return words;
            }
            words.push_back(text.substr(pos + 1, end - pos - 1));
            pos = end + 1;
        } else {
            end = text.find(' ', pos);
            if (end == std::string::npos) {
                words.push_back(text.substr(pos));
                return words;
            }
            words.push_back(text.substr(pos, end - pos));
            pos = end;
        }
        while (pos < text.size() && text[pos] == ' ') ++pos;
    }
    return words;
}

void readCommandLine(Launcher& launcher) {
    platform::CommandLine line = platform::commandLine();
    if (!line.isRaw) {
        launcher.arguments = std::move(line.words);
        return;
    }
    std::vector<std::string> words = splitArguments(trimWhiteSpace(line.text));
    if (!words.empty()) words.erase(words.begin());
    launcher.arguments = std::move(words);
}

namespace {

std::vector<std::string> nonEmptyWords(const std::string& expanded) {
    std::vector<std::string> words;
    for (std::string& word : splitArguments(expanded)) {
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

void appendExtraArguments(Launcher& launcher) {
    if (launcher.extraArgumentsText.empty()) return;
    launcher.extraArgumentsText = expandEnvironment(launcher.extraArgumentsText);
    for (std::string& word : nonEmptyWords(launcher.extraArgumentsText)) launcher.arguments.push_back(std::move(word));
}

void insertLeadingArguments(Launcher& launcher, const std::string& text) {
    if (text.empty()) return;
    std::vector<std::string> words = nonEmptyWords(expandEnvironment(text));
    launcher.arguments.insert(launcher.arguments.begin(), std::make_move_iterator(words.begin()),
                              std::make_move_iterator(words.end()));
}

int findArgument(const std::vector<std::string>& list, const std::string& text) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace qn
