// Helpers shared by the offline tools: file handles, output file names, usage texts.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace zerik::tools {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file with an fopen mode; null when it cannot be opened.
FilePtr openFile(const std::string& path, const char* mode);

// Prints each text with a call of its own, in order (usage screens).
void printEach(std::initializer_list<const char*> texts);

// Message for an input file that cannot be opened.
void reportNotFound(const std::string& name);

// Message for an output file that cannot be created.
void reportNotCreated(const std::string& name);

// Result-line file name of a raw page file: the first character of the file name becomes 'j'
// ("01.prt" gives "j1.prt"); directories in front of the name stay as they are. At most 31
// characters.
std::string resultFileName(std::string_view input);

// Picture name of a result-line file ("j1.prt" gives "j1.bmp"), made from the file name only:
// a '.' in a directory in front of it ("./j1.prt", "a.b/j1") is not the name's extension.
std::string pictureFileName(std::string_view input);

}  // namespace zerik::tools
