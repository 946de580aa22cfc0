#pragma once
// Cuts one fuzz input into the several texts a target needs.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qn::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}

    /// The text up to the next NUL (or the end); the NUL is consumed.
    std::string text() {
        std::size_t end = pos_;
        while (end < size_ && data_[end] != '\0') ++end;
        std::string result(data_ + pos_, end - pos_);
        pos_ = end < size_ ? end + 1 : end;
        return result;
    }
    /// One byte as a number (0 at the end).
    std::uint8_t byte() { return pos_ < size_ ? static_cast<std::uint8_t>(data_[pos_++]) : 0; }
    std::uint64_t number() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = value << 8 | byte();
        return value;
    }
    /// Everything not yet taken.
    std::string rest() {
        std::string result(data_ + pos_, size_ - pos_);
        pos_ = size_;
        return result;
    }

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

/// Stops the run with a finding when a property does not hold.
#define QN_FUZZ_CHECK(condition)                                                             \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __builtin_trap();                                                                \
        }                                                                                    \
    } while (0)

}  // namespace qn::fuzz
