#include "tool_support.h"

#include "recognition/bitmap.h"

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

void printEach(std::initializer_list<const char*> texts) {
    for (const char* text : texts) std::fputs(text, stdout);
}

void reportNotFound(const std::string& name) {
    std::printf("%s not found!\n", name.c_str());
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
    const std::size_t start = fileNameStart(input);
    return std::string(input.substr(0, start)) + recognition::bitmap_file_name(input.substr(start));
}

}  // namespace zerik::tools
