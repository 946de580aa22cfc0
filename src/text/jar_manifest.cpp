#include "text/jar_manifest.h"

#include <array>
#include <cctype>

namespace qn {

namespace {

// The largest manifest worth reading; the runtime's own limit is far beyond any real one.
const std::size_t manifestLimit = std::size_t{8} << 20;
// The end record is 22 bytes plus a comment of at most 65535.
const std::size_t endRecordSearch = 22 + 65535;
const std::uint32_t endRecordSignature = 0x06054b50;
const std::uint32_t centralEntrySignature = 0x02014b50;
const std::uint32_t localEntrySignature = 0x04034b50;

std::uint32_t little(const std::string& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

/// The decoder of RFC 1951: canonical Huffman codes counted per length, as the format defines them.
class Inflater {
public:
    Inflater(const std::string& in, std::size_t limit) : in_(in), limit_(limit) {}

    bool run() {
        bool last = false;
        while (!last) {
            last = bits(1) == 1;
            const int type = bits(2);
            bool good = false;
            if (type == 0) good = stored();
            else if (type == 1) good = fixedBlock();
            else if (type == 2) good = dynamicBlock();
            if (!good || failed_) return false;
        }
        return true;
    }
    std::string out;

private:
    struct Huffman {
        std::array<short, 16> count{};
        std::array<short, 320> symbol{};
    };

    int bits(int need) {
        int value = 0;
        for (int i = 0; i < need; ++i) {
            if (bitCount_ == 0) {
                if (pos_ >= in_.size()) {
                    failed_ = true;
                    return 0;
                }
                bitBuffer_ = static_cast<unsigned char>(in_[pos_++]);
                bitCount_ = 8;
            }
            value |= (bitBuffer_ & 1) << i;
            bitBuffer_ >>= 1;
            --bitCount_;
        }
        return value;
    }

    bool stored() {
        bitCount_ = 0;  // to the byte boundary
        if (pos_ + 4 > in_.size()) return false;
        const std::uint32_t length = little(in_, pos_, 2);
        if ((length ^ 0xffff) != little(in_, pos_ + 2, 2)) return false;
        pos_ += 4;
        if (pos_ + length > in_.size() || out.size() + length > limit_) return false;
        out.append(in_, pos_, length);
        pos_ += length;
        return true;
    }

    /// False when the lengths are over-subscribed; incomplete codes are allowed, as in a single-code table.
    static bool build(Huffman& h, const short* lengths, int n) {
        h.count.fill(0);
        for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
        if (h.count[0] == n) return true;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = (left << 1) - h.count[len];
            if (left < 0) return false;
        }
        std::array<short, 16> offsets{};
        for (int len = 1; len < 15; ++len) offsets[len + 1] = offsets[len] + h.count[len];
        for (int i = 0; i < n; ++i) {
            if (lengths[i] != 0) h.symbol[offsets[lengths[i]]++] = static_cast<short>(i);
        }
        return true;
    }

    int decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= bits(1);
            if (failed_) return -1;
            const int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    bool codes(const Huffman& lengthCodes, const Huffman& distanceCodes) {
        static const short lengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const short lengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const short distanceBase[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                             193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const short distanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int symbol = decode(lengthCodes);
            if (symbol < 0) return false;
            if (symbol < 256) {
                if (out.size() >= limit_) return false;
                out += static_cast<char>(symbol);
                continue;
            }
            if (symbol == 256) return true;
            symbol -= 257;
            if (symbol >= 29) return false;
            const std::size_t length = static_cast<std::size_t>(lengthBase[symbol] + bits(lengthExtra[symbol]));
            const int distanceSymbol = decode(distanceCodes);
            if (distanceSymbol < 0 || distanceSymbol >= 30) return false;
            const std::size_t distance = static_cast<std::size_t>(distanceBase[distanceSymbol] + bits(distanceExtra[distanceSymbol]));
            if (failed_ || distance > out.size() || out.size() + length > limit_) return false;
            for (std::size_t i = 0; i < length; ++i) out += out[out.size() - distance];
        }
    }

    bool fixedBlock() {
        short lengths[288 + 30];
        for (int i = 0; i < 144; ++i) lengths[i] = 8;
        for (int i = 144; i < 256; ++i) lengths[i] = 9;
        for (int i = 256; i < 280; ++i) lengths[i] = 7;
        for (int i = 280; i < 288; ++i) lengths[i] = 8;
        for (int i = 288; i < 288 + 30; ++i) lengths[i] = 5;
        Huffman lengthCodes, distanceCodes;
        build(lengthCodes, lengths, 288);
        build(distanceCodes, lengths + 288, 30);
        return codes(lengthCodes, distanceCodes);
    }

    bool dynamicBlock() {
        static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        const int literals = bits(5) + 257, distances = bits(5) + 1, codeLengths = bits(4) + 4;
        if (failed_ || literals > 286 || distances > 30) return false;
        short lengths[320] = {};
        for (int i = 0; i < codeLengths; ++i) lengths[order[i]] = static_cast<short>(bits(3));
        Huffman lengthCode;
        if (!build(lengthCode, lengths, 19)) return false;
        int index = 0;
        while (index < literals + distances) {
            int symbol = decode(lengthCode);
            if (symbol < 0) return false;
            if (symbol < 16) {
                lengths[index++] = static_cast<short>(symbol);
                continue;
            }
            short repeated = 0;
            int times = 0;
            if (symbol == 16) {
                if (index == 0) return false;
                repeated = lengths[index - 1];
                times = 3 + bits(2);
            } else if (symbol == 17) {
                times = 3 + bits(3);
            } else {
                times = 11 + bits(7);
            }
            if (failed_ || index + times > literals + distances) return false;
            while (times-- > 0) lengths[index++] = repeated;
        }
        if (lengths[256] == 0) return false;  // no end-of-block code
        Huffman lengthCodes, distanceCodes;
        if (!build(lengthCodes, lengths, literals) || !build(distanceCodes, lengths + literals, distances)) return false;
        return codes(lengthCodes, distanceCodes);
    }

    const std::string& in_;
    std::size_t limit_;
    std::size_t pos_ = 0;
    unsigned bitBuffer_ = 0;
    int bitCount_ = 0;
    bool failed_ = false;
};

}  // namespace

std::optional<std::string> inflateRaw(const std::string& data, std::size_t limit) {
    Inflater inflater(data, limit);
    if (!inflater.run()) return std::nullopt;
    return std::move(inflater.out);
}

std::optional<std::string> jarManifest(std::uint64_t fileSize, const ReadAt& read) {
    if (fileSize < 22) return std::nullopt;
    const std::uint64_t tailStart = fileSize > endRecordSearch ? fileSize - endRecordSearch : 0;
    const std::string tail = read(tailStart, static_cast<std::size_t>(fileSize - tailStart));
    if (tail.size() < 22) return std::nullopt;
    std::size_t end = tail.size() - 22 + 1;
    do {
        --end;
        if (little(tail, end, 4) == endRecordSignature) break;
    } while (end > 0);
    if (little(tail, end, 4) != endRecordSignature) return std::nullopt;
    const std::uint32_t directorySize = little(tail, end + 12, 4);
    const std::uint32_t directoryOffset = little(tail, end + 16, 4);
    // 0xffffffff marks a zip64 archive; its manifest is left unread.
    if (directoryOffset == 0xffffffff || std::uint64_t{directoryOffset} + directorySize > fileSize) return std::nullopt;
    const std::string directory = read(directoryOffset, directorySize);
    if (directory.size() != directorySize) return std::nullopt;

    for (std::size_t at = 0; at + 46 <= directory.size();) {
        if (little(directory, at, 4) != centralEntrySignature) return std::nullopt;
        const std::uint32_t method = little(directory, at + 10, 2);
        const std::uint32_t compressed = little(directory, at + 20, 4);
        const std::uint32_t size = little(directory, at + 24, 4);
        const std::size_t nameLength = little(directory, at + 28, 2);
        const std::size_t next = at + 46 + nameLength + little(directory, at + 30, 2) + little(directory, at + 32, 2);
        if (at + 46 + nameLength > directory.size()) return std::nullopt;
        const std::uint32_t local = little(directory, at + 42, 4);
        if (!sameIgnoringCase(directory.substr(at + 46, nameLength), "META-INF/MANIFEST.MF")) {
            at = next;
            continue;
        }
        if (size > manifestLimit || compressed > manifestLimit) return std::nullopt;
        const std::string header = read(local, 30);
        if (header.size() != 30 || little(header, 0, 4) != localEntrySignature) return std::nullopt;
        const std::uint64_t dataAt = std::uint64_t{local} + 30 + little(header, 26, 2) + little(header, 28, 2);
        const std::string data = read(dataAt, compressed);
        if (data.size() != compressed) return std::nullopt;
        if (method == 0) return data;
        if (method != 8) return std::nullopt;
        return inflateRaw(data, manifestLimit);
    }
    return std::nullopt;
}

std::string manifestAttribute(const std::string& manifest, const std::string& name) {
    std::string value;
    bool inAttribute = false;
    std::size_t pos = 0;
    while (pos < manifest.size()) {
        std::size_t end = manifest.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = manifest.size();
        const std::string line = manifest.substr(pos, end - pos);
        pos = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty()) break;  // the main section ends at the first blank line
        if (line[0] == ' ') {
            if (inAttribute) value += line.substr(1);
            continue;
        }
        if (inAttribute) return value;
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos && sameIgnoringCase(line.substr(0, colon), name)) {
            inAttribute = true;
            value = line.substr(colon + 2);
        }
    }
    return inAttribute ? value : std::string();
}

std::vector<std::string> classPathUrls(const std::string& value) {
    std::vector<std::string> urls;
    std::size_t pos = 0;
    const char* const blanks = " \t\r\n\f";
    while ((pos = value.find_first_not_of(blanks, pos)) != std::string::npos) {
        const std::size_t end = value.find_first_of(blanks, pos);
        urls.push_back(value.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
    }
    return urls;
}

}  // namespace qn
