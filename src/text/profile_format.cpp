#include "text/profile_format.h"

#include <cstring>
#include <vector>
#include "text/utf8.h"

namespace qn::profile {

namespace {

struct Line {
    std::size_t begin;  // offset of the line in the content
    std::size_t end;    // offset after the line's text, before its line break
    std::size_t next;   // offset of the next line
};

const std::string utf8Mark = "\xEF\xBB\xBF";

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    // Editors on Windows often start a file with the UTF-8 mark, and the system's own reader
    // passes over it; without this the file's first section would be lost.
    std::size_t pos = content.compare(0, utf8Mark.size(), utf8Mark) == 0 ? utf8Mark.size() : 0;
    while (pos < content.size()) {
        std::size_t end = pos;
        while (end < content.size() && !isLineBreak(content[end])) ++end;
        std::size_t next = end;
        // A CR alone ends a line as well: files from old Mac editors use nothing else, and a CR
        // taken into the value would reach the program as part of a class name.
        if (next < content.size() && content[next] == '\r') ++next;
        if (next < content.size() && content[next] == '\n' && (next == end || content[end] == '\r')) ++next;
        lines.push_back({pos, end, next});
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

// ASCII folding only: the names the launcher asks for are ASCII, and a fold that followed the
// locale would make the same file read differently on two machines.
std::string folded(const std::string& name) {
    std::string result = name;
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool sameName(const std::string& a, const std::string& b) { return folded(a) == folded(b); }

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

bool endsWithLineBreak(const std::string& text) { return !text.empty() && isLineBreak(text.back()); }

// --- UTF-16 ---------------------------------------------------------------------------------------

void appendUnit(std::string& out, std::uint32_t unit, Encoding encoding) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    if (encoding == Encoding::Utf16LittleEndian) {
        out += low;
        out += high;
    } else {
        out += high;
        out += low;
    }
}

std::optional<std::string> utf16ToUtf8(const std::string& bytes, Encoding encoding) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return encoding == Encoding::Utf16LittleEndian ? (second << 8 | first) : (first << 8 | second);
    };
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {  // after the mark
        std::uint32_t c = unitAt(i);
        if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return std::nullopt;
            const std::uint32_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (c == 0) return std::nullopt;
        appendUtf8(text, static_cast<char32_t>(c));
    }
    return text;
}

/// The code points of strict UTF-8 (no overlong forms, no surrogates); nothing for other bytes.
std::optional<std::vector<std::uint32_t>> utf8CodePoints(const std::string& text) {
    std::vector<std::uint32_t> points;
    points.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t c = 0, minimum = 0;
        if (lead < 0x80) { length = 1; c = lead; }
        else if ((lead & 0xE0) == 0xC0) { length = 2; c = lead & 0x1F; minimum = 0x80; }
        else if ((lead & 0xF0) == 0xE0) { length = 3; c = lead & 0x0F; minimum = 0x800; }
        else if ((lead & 0xF8) == 0xF0) { length = 4; c = lead & 0x07; minimum = 0x10000; }
        else return std::nullopt;
        if (i + length > text.size()) return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (next & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        points.push_back(c);
        i += length;
    }
    return points;
}

}  // namespace

std::optional<DecodedText> decode(const std::string& bytes) {
    if (bytes.size() >= 2) {
        const auto first = static_cast<unsigned char>(bytes[0]);
        const auto second = static_cast<unsigned char>(bytes[1]);
        Encoding encoding = Encoding::Bytes;
        if (first == 0xFF && second == 0xFE) encoding = Encoding::Utf16LittleEndian;
        if (first == 0xFE && second == 0xFF) encoding = Encoding::Utf16BigEndian;
        if (encoding != Encoding::Bytes) {
            auto text = utf16ToUtf8(bytes, encoding);
            if (!text) return std::nullopt;
            return DecodedText{encoding, std::move(*text)};
        }
    }
    // A profile file holds no NUL; one that does is damaged (a crash may leave blocks of zeros)
    // or is not a profile file at all.
    if (std::memchr(bytes.data(), '\0', bytes.size())) return std::nullopt;
    return DecodedText{Encoding::Bytes, bytes};
}

std::optional<std::string> encode(const std::string& text, Encoding encoding) {
    if (encoding == Encoding::Bytes) return text;
    const auto points = utf8CodePoints(text);
    if (!points) return std::nullopt;
    std::string bytes;
    bytes.reserve(2 + text.size() * 2);
    appendUnit(bytes, 0xFEFF, encoding);
    for (std::uint32_t c : *points) {
        if (c >= 0x10000) {
            c -= 0x10000;
            appendUnit(bytes, 0xD800 + (c >> 10), encoding);
            appendUnit(bytes, 0xDC00 + (c & 0x3FF), encoding);
        } else {
            appendUnit(bytes, c, encoding);
        }
    }
    return bytes;
}

Document::Document(const std::string& content) {
    Keys* current = nullptr;  // the section being read, when it is the first of its name
    for (const Line& line : splitLines(content)) {
        const std::string text = content.substr(line.begin, line.end - line.begin);
        if (const auto name = sectionName(text)) {
            const auto inserted = sections_.try_emplace(folded(*name));
            current = inserted.second ? &inserted.first->second : nullptr;
            continue;
        }
        if (!current) continue;
        if (auto pair = keyLine(text)) current->try_emplace(folded(pair->key), std::move(pair->value));
    }
}

std::optional<std::string> Document::lookup(const std::string& section, const std::string& key) const {
    const auto keys = sections_.find(folded(section));
    if (keys == sections_.end()) return std::nullopt;
    const auto value = keys->second.find(folded(key));
    if (value == keys->second.end()) return std::nullopt;
    return value->second;
}

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
        if (!head.empty() && !endsWithLineBreak(head)) head += "\r\n";
        return head + entry + "\r\n" + content.substr(location.sectionEnd);
    }
    std::string result = content;
    if (!result.empty() && !endsWithLineBreak(result)) result += "\r\n";
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
