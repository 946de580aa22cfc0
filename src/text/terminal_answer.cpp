#include "text/terminal_answer.h"

#include <algorithm>
#include <cctype>

namespace qn::platform {

namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::optional<ExceptionAnswer> parseExceptionAnswer(const std::string& line) {
    const auto first = std::find_if_not(line.begin(), line.end(), isBlank);
    const auto last = std::find_if_not(line.rbegin(), line.rend(), isBlank).base();
    std::string word = first < last ? std::string(first, last) : std::string();
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word.empty() || word == "i" || word == "ignore") return ExceptionAnswer::Ignore;
    if (word == "s" || word == "stop") return ExceptionAnswer::Stop;
    return std::nullopt;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace qn::platform
