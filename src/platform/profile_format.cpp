#include "platform/profile_format.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qn::profile {

namespace {

struct Line {
    std::size_t begin;  // offset of the line in the content
    std::size_t end;    // offset after the line's text, before its line break
    std::size_t next;   // offset of the next line
};

// Where the first line starts; each line gives the start of the next.
std::size_t firstLineStart(const std::string& content) {
    // Editors on Windows often start a file with the UTF-8 mark, and the system's own reader
    // passes over it; without this the file's first section would be lost.
    static constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
    return std::string_view(content).substr(0, utf8Mark.size()) == utf8Mark ? utf8Mark.size() : 0;
}

/// The line starting at pos (pos < content.size()).
Line lineAt(const std::string& content, std::size_t pos) {
    std::size_t end = content.find('\n', pos);
    const std::size_t next = end == std::string::npos ? content.size() : end + 1;
    if (end == std::string::npos) end = content.size();
    std::size_t textEnd = end;
    if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
    return {pos, textEnd, next};
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Views into the content: a start reads the configuration many times, and copies of every line
// for every key were most of the launcher's own work.
std::string_view trim(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;  // most bytes of a name that matches are equal as written
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

/// The section name of a "[name]" line.
std::optional<std::string_view> sectionName(std::string_view line) {
    const std::string_view text = trim(line);
    if (text.size() < 2 || text.front() != '[') return std::nullopt;
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(text.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = trim(line.substr(0, equals));
    if (key.empty() || key[0] == ';') return std::nullopt;
    std::string_view value = trim(line.substr(equals + 1));
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

std::string_view lineText(const std::string& content, const Line& line) {
    return std::string_view(content).substr(line.begin, line.end - line.begin);
}

Location locate(const std::string& content, const std::string& section, const std::string& key) {
    Location location;
    bool inSection = false;
    for (std::size_t pos = firstLineStart(content); pos < content.size();) {
        const Line line = lineAt(content, pos);
        pos = line.next;
        const std::string_view text = lineText(content, line);
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
        if (location.keyLine) continue;
        const auto pair = keyLine(text);
        if (pair && sameName(pair->key, key)) location.keyLine = line;
    }
    return location;
}

}  // namespace

std::optional<std::string> lookup(const std::string& content, const std::string& section,
                                  const std::string& key) {
    return Index(content).lookup(section, key);
}

Index::Index(const std::string& content) {
    for (std::size_t pos = firstLineStart(content); pos < content.size();) {
        const Line line = lineAt(content, pos);
        pos = line.next;
        const std::string_view text = lineText(content, line);
        if (const auto name = sectionName(text)) {
            sections_.push_back({*name, {}});
        } else if (!sections_.empty()) {
            if (const auto pair = keyLine(text)) {
                sections_.back().entries.push_back({pair->key, pair->value});
            }
        }
    }
}

std::optional<std::string> Index::lookup(const std::string& section, const std::string& key) const {
    for (const Section& candidate : sections_) {
        if (!sameName(candidate.name, section)) continue;
        // The first matching section is the one that counts, and in it the first matching key.
        for (const Entry& entry : candidate.entries) {
            if (sameName(entry.key, key)) return std::string(entry.value);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::string update(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& value) {
    const Location location = locate(content, section, key);
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
