// How the simulated scanner sends a page: a page-start event on the message
// pipe, then on one data pipe the start marker, the page data and the end
// marker followed by a few trailing bytes, cut into transfers of chosen
// sizes, then the page-end event.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zerik_sim/simulator.h"

namespace zerik::sim {

constexpr uint32_t kMaxTransfer = 32768;
constexpr uint32_t kPageMarkerSize = 16;

// Bytes per line of a page at dpi (1728 for any resolution not listed).
uint32_t LineWidth(uint32_t dpi);

struct PageSpec {
    int pipe = 0;  // data pipe 0 or 1
    uint8_t page_no = 1;
    uint8_t layer = 1;
    uint16_t dpi = 200;
    uint32_t data_bytes = 17280;  // page data between the markers
    // Sizes of the consecutive transfers of the stream; the last size repeats
    // until the stream is sent. Empty: 32768. Each is taken at most 32768.
    std::vector<uint32_t> transfers;
    // Bytes after the end marker in the stream. The host sees a marker only
    // when at least one more word of the same transfer follows it.
    uint32_t trailer_bytes = 2;
    bool events = true;  // page-start and page-end events on the message pipe
};

// Byte `i` of the data of page `page_no`. The pattern never forms a marker.
uint8_t PageDataByte(uint8_t page_no, uint32_t i);

// A page marker: type 1 starts a page, type 2 ends it.
std::array<uint8_t, kPageMarkerSize> PageMarkerBytes(uint16_t type, uint8_t page_no, uint8_t layer,
                                                     uint16_t dpi);

// A scan event message (0xF3): event 1 page scan started, 2 ended.
std::array<uint8_t, 64> ScanEventMessage(uint8_t event, uint8_t page_no, uint16_t dpi,
                                         uint8_t layer);

// The page's stream cut into its transfers.
std::vector<std::vector<uint8_t>> PageTransfers(const PageSpec& plan);

// Sends the page to every open link: the start event, the transfers (made
// by PageTransfers) and the end event.
void SendPage(Host& host, const PageSpec& plan, const std::vector<std::vector<uint8_t>>& transfers);
void StreamPage(Host& host, const PageSpec& plan);

// Reads "key=value" words into *plan (pipe, no, layer, dpi, bytes, lines,
// transfers=a,b,..., trailer, events=0|1) and count=N into *count; false
// with *error for a word it does not take.
bool ParsePageSpec(const std::vector<std::string>& words, PageSpec* plan, int* count,
                   std::string* error);

// The control line's help text.
std::string PageStreamHelp();

}  // namespace zerik::sim
