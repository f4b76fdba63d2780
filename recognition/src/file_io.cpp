#include "recognition/file_io.h"

#include <fstream>
#include <iterator>

namespace recognition {

std::optional<std::vector<std::uint8_t>> read_binary_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // A failed read (a directory, a device error) is thrown by the stream buffer itself.
    try {
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        return bytes;
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
}

bool write_binary_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace recognition
