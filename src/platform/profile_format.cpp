#include "platform/profile_format.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qn::profile {

namespace {

struct Line {
    std::size_t begin;  // offset of the line in the content
    std::size_t end;    // offset after the line's text, before its line break
    std::size_t next;   // offset of the next line
};

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    // Editors on Windows often start a file with the UTF-8 mark, and the system's own reader
    // passes over it; without this the file's first section would be lost.
    static const std::string utf8Mark = "\xEF\xBB\xBF";
    std::size_t pos = content.compare(0, utf8Mark.size(), utf8Mark) == 0 ? utf8Mark.size() : 0;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        const std::size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos) end = content.size();
        std::size_t textEnd = end;
        if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
        lines.push_back({pos, textEnd, next});
        pos = next;
    }
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

/// The section name of a "[name]" line.
std::optional<std::string> sectionName(const std::string& line) {
    const std::string text = trim(line);
    if (text.size() < 2 || text.front() != '[') return std::nullopt;
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trim(text.substr(1, close - 1));
}

struct KeyLine {
    std::string key;
    std::string value;
};

std::optional<KeyLine> keyLine(const std::string& line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string key = trim(line.substr(0, equals));
    if (key.empty() || key[0] == ';') return std::nullopt;
    std::string value = trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return KeyLine{key, value};
}

struct Location {
    bool sectionFound = false;
    std::size_t sectionEnd = 0;  // offset after the section's last non-empty line
    std::optional<Line> keyLine;
};

Location locate(const std::string& content, const std::vector<Line>& lines,
                const std::string& section, const std::string& key) {
    Location location;
    bool inSection = false;
    for (const Line& line : lines) {
        const std::string text = content.substr(line.begin, line.end - line.begin);
        if (const auto name = sectionName(text)) {
            if (inSection) break;  // the first matching section is the one that counts
            inSection = sameName(*name, section);
            if (inSection) {
                location.sectionFound = true;
                location.sectionEnd = line.next;
            }
            continue;
        }
        if (!inSection) continue;
        if (!trim(text).empty()) location.sectionEnd = line.next;
        const auto pair = keyLine(text);
        if (pair && sameName(pair->key, key) && !location.keyLine) location.keyLine = line;
    }
    return location;
}

}  // namespace

std::optional<std::string> lookup(const std::string& content, const std::string& section,
                                  const std::string& key) {
    const std::vector<Line> lines = splitLines(content);
    const Location location = locate(content, lines, section, key);
    if (!location.keyLine) return std::nullopt;
    const Line& line = *location.keyLine;
    return keyLine(content.substr(line.begin, line.end - line.begin))->value;
}

std::string update(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& value) {
    const std::vector<Line> lines = splitLines(content);
    const Location location = locate(content, lines, section, key);
    const std::string entry = key + "=" + value;
    if (location.keyLine) {
        const Line& line = *location.keyLine;
        return content.substr(0, line.begin) + entry + content.substr(line.end);
    }
    if (location.sectionFound) {
        std::string head = content.substr(0, location.sectionEnd);
        if (!head.empty() && head.back() != '\n') head += "\r\n";
        return head + entry + "\r\n" + content.substr(location.sectionEnd);
    }
    std::string result = content;
    if (!result.empty() && result.back() != '\n') result += "\r\n";
    return result + "[" + section + "]\r\n" + entry + "\r\n";
}

std::uint32_t copyToBuffer(const std::string& value, char* buffer, std::uint32_t size) {
    if (size == 0) return 0;
    const std::uint32_t length =
        value.size() < size - 1 ? static_cast<std::uint32_t>(value.size()) : size - 1;
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return length;
}

}  // namespace qn::profile
