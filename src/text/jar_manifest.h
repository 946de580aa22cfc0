#pragma once
// A jar's manifest, read the way the runtime reads it: the zip's central directory names the
// entry, its data is stored or deflated, and the main section's attributes are "Name: value"
// lines with continuation lines that begin with one space.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qn {

/// Reads `size` bytes at `offset` of the jar; fewer (or none) when the file is shorter or unreadable.
using ReadAt = std::function<std::string(std::uint64_t offset, std::size_t size)>;

/// The text of META-INF/MANIFEST.MF (the name in any letter case); nothing when the file is no
/// zip, has no manifest, or the entry is damaged or larger than the runtime would sensibly read.
std::optional<std::string> jarManifest(std::uint64_t fileSize, const ReadAt& read);

/// The value of an attribute of the manifest's main section (the name in any letter case), its
/// continuation lines joined; empty when absent.
std::string manifestAttribute(const std::string& manifest, const std::string& name);

/// The URLs of a Class-Path value: separated by spaces, tabs and line ends.
std::vector<std::string> classPathUrls(const std::string& value);

/// Raw deflate data (RFC 1951) decoded; nothing when damaged or when it grows past `limit` bytes.
std::optional<std::string> inflateRaw(const std::string& data, std::size_t limit);

}  // namespace qn
