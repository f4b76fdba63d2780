// Checks of the 8-bit pictures the tools write: colour table bytes and what an independent
// reader (ImageMagick's identify) makes of the file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace zerik::tools::testing {

// Entries 0..254 grey, entry 255 the given red, green, blue.
void expectColourTable(const std::vector<std::uint8_t>& bmp, std::array<int, 3> lastEntryRgb);

// identify reads the file as a width x height palette picture with 256 colour-map entries.
void expectReaderSees(const ScratchDir& dir, const std::string& name, int width, int height);

}  // namespace zerik::tools::testing
