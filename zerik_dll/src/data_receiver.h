// The page assembler: cuts the word stream of a data pipe into pages at the
// page markers and queues each finished page for the page thread.
#pragma once

#include <cstdint>

#include "context.h"

namespace zerik {

// Page buffer layout: a 40-byte bitmap information header and a 256-entry
// grey colour table, then the page data.
constexpr uint32_t kBitmapInfoSize = 40;
constexpr uint32_t kPageHeaderSize = 1064;
constexpr uint32_t kLayerCapacity = 8388608;  // data bytes per layer
constexpr uint32_t kMarkerSize = 16;
constexpr uint16_t kMarkerMagic[4] = {0x1234, 0xEDCB, 0x5678, 0xA987};
constexpr uint16_t kMarkerPageStart = 1;
constexpr uint16_t kMarkerPageEnd = 2;

// Bytes per line of a page scanned at `dpi`.
uint32_t PageWidth(uint32_t dpi);

// Feeds one received chunk of data pipe `idx` (0 or 1) to its assembler.
// A marker counts only when it lies wholly inside the chunk and at least one
// more word of the chunk follows it; every other word is page data.
void AssembleChunk(DeviceContext* dev, int idx, const uint8_t* bytes, uint32_t count);

// Frees the page that data pipe `idx` is filling, if any, and returns the
// pipe to Idle.
void AbandonOpenPage(DeviceContext* dev, int idx);

}  // namespace zerik
