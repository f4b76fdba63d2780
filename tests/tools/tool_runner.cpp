#include "tool_runner.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zerik::tools::testing {
namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zerik_tools_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void ScratchDir::writeText(const std::string& name, const std::string& text) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::uint8_t> ScratchDir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool ScratchDir::exists(const std::string& name) const {
    return std::filesystem::exists(path_ / name);
}

ToolResult runShell(const std::string& commandLine, const ScratchDir& dir) {
    const std::string full = "cd " + shellQuote(dir.path().string()) + " && " + commandLine;
    ToolResult result;
    std::FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const ScratchDir& dir) {
    std::string commandLine = "exec " + shellQuote(program);
    for (const std::string& arg : args) commandLine += " " + shellQuote(arg);
    return runShell(commandLine, dir);
}

std::uint32_t le16At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) |
           static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8;
}

std::uint32_t le32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return le16At(bytes, offset) | le16At(bytes, offset + 2) << 16;
}

}  // namespace zerik::tools::testing
