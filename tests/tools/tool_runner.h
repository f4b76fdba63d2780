// Runs a built tool in a fresh temporary directory of its own, so that tests of tools with fixed
// file names can run in parallel.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zerik::tools::testing {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    void writeText(const std::string& name, const std::string& text) const;
    std::vector<std::uint8_t> read(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

struct ToolResult {
    std::string output;  // everything the tool printed on stdout
    int exitStatus = -1;
};

// Runs `program args...` with the scratch directory as its current directory.
ToolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const ScratchDir& dir);

// Runs a shell command line in the scratch directory and returns its stdout.
ToolResult runShell(const std::string& commandLine, const ScratchDir& dir);

// Little-endian readers for checking file layouts.
std::uint32_t le16At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint32_t le32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);

}  // namespace zerik::tools::testing
