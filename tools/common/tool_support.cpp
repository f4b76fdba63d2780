#include "tool_support.h"

#include <algorithm>

namespace zerik::tools {
namespace {

constexpr std::size_t kMaxResultNameLength = 31;

// Offset of the file name part of a path (after the last '/').
std::size_t fileNameStart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

}  // namespace

FilePtr openFile(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode));
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
    FilePtr file = openFile(path, "rb");
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

void printEach(std::initializer_list<const char*> texts) {
    for (const char* text : texts) std::fputs(text, stdout);
}

void reportNotCreated(const std::string& name) {
    std::printf("%s cannot be created!\n", name.c_str());
}

std::string resultFileName(std::string_view input) {
    std::string name(input);
    const std::size_t start = fileNameStart(name);
    if (start < name.size()) name[start] = 'j';
    if (name.size() > kMaxResultNameLength) name.resize(kMaxResultNameLength);
    return name;
}

std::string pictureFileName(std::string_view input) {
    std::string name(input);
    const std::size_t dot = name.find('.', fileNameStart(name));
    if (dot == std::string::npos) return name + ".bmp";
    const std::size_t tail = std::min(name.size(), dot + 4);
    return name.substr(0, dot + 1) + "bmp" + name.substr(tail);
}

}  // namespace zerik::tools
