// Whole-file reading and writing for the offline tools.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace recognition {

// The file's bytes, or nothing when it cannot be opened or read (a directory, say).
std::optional<std::vector<std::uint8_t>> read_binary_file(const std::string& path);
// Creates or truncates the file; false when it cannot be written completely.
bool write_binary_file(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace recognition
