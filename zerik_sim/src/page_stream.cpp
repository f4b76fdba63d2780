#include "page_stream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <sstream>

namespace zerik::sim {
namespace {

constexpr uint8_t kScanEvent = 0xF3;
constexpr uint8_t kEventPageStarted = 1;
constexpr uint8_t kEventPageEnded = 2;
constexpr uint16_t kMarkerStart = 1;
constexpr uint16_t kMarkerEnd = 2;

void PutLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

bool ParseNumber(const std::string& text, uint32_t max, uint32_t* out) {
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 0);
        if (used != text.size() || value > max) return false;
        *out = static_cast<uint32_t>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

uint32_t LineWidth(uint32_t dpi) {
    switch (dpi) {
        case 50:
            return 432;
        case 100:
            return 864;
        case 133:
            return 1152;
        case 150:
            return 1296;
        default:
            return 1728;
    }
}

uint8_t PageDataByte(uint8_t page_no, uint32_t i) {
    // Neighbouring bytes differ by a constant, which no marker does.
    return static_cast<uint8_t>(i * 7u + page_no * 13u);
}

std::array<uint8_t, kPageMarkerSize> PageMarkerBytes(uint16_t type, uint8_t page_no, uint8_t layer,
                                                     uint16_t dpi) {
    std::array<uint8_t, kPageMarkerSize> marker{0x34, 0x12, 0xCB, 0xED, 0x78, 0x56, 0x87, 0xA9};
    PutLe16(marker.data() + 8, type);
    marker[10] = page_no;
    marker[11] = layer;
    PutLe16(marker.data() + 12, dpi);
    return marker;
}

std::array<uint8_t, 64> ScanEventMessage(uint8_t event, uint8_t page_no, uint16_t dpi,
                                         uint8_t layer) {
    std::array<uint8_t, 64> message{};
    message[0] = kScanEvent;
    PutLe16(message.data() + 3, static_cast<uint16_t>(page_no << 8 | event));
    PutLe16(message.data() + 15, dpi);
    PutLe16(message.data() + 17, layer);
    return message;
}

std::vector<std::vector<uint8_t>> PageTransfers(const PageSpec& plan) {
    std::vector<uint8_t> stream;
    stream.reserve(2 * kPageMarkerSize + plan.data_bytes + plan.trailer_bytes);
    const auto start = PageMarkerBytes(kMarkerStart, plan.page_no, plan.layer, plan.dpi);
    stream.insert(stream.end(), start.begin(), start.end());
    for (uint32_t i = 0; i < plan.data_bytes; ++i) {
        stream.push_back(PageDataByte(plan.page_no, i));
    }
    const auto end = PageMarkerBytes(kMarkerEnd, plan.page_no, plan.layer, plan.dpi);
    stream.insert(stream.end(), end.begin(), end.end());
    stream.insert(stream.end(), plan.trailer_bytes, 0);

    std::vector<std::vector<uint8_t>> transfers;
    std::size_t pos = 0;
    std::size_t next_size = 0;
    while (pos < stream.size()) {
        uint32_t size = kMaxTransfer;
        if (!plan.transfers.empty()) {
            size = plan.transfers[std::min(next_size, plan.transfers.size() - 1)];
            ++next_size;
        }
        size = std::clamp<uint32_t>(size, 1, kMaxTransfer);
        const std::size_t take = std::min<std::size_t>(size, stream.size() - pos);
        transfers.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                               stream.begin() + static_cast<std::ptrdiff_t>(pos + take));
        pos += take;
    }
    return transfers;
}

void SendPage(Host& host, const PageSpec& plan,
              const std::vector<std::vector<uint8_t>>& transfers) {
    if (plan.events) {
        host.Broadcast(ScanEventMessage(kEventPageStarted, plan.page_no, plan.dpi, plan.layer));
    }
    for (const std::vector<uint8_t>& transfer : transfers) host.BroadcastData(plan.pipe, transfer);
    if (plan.events) {
        host.Broadcast(ScanEventMessage(kEventPageEnded, plan.page_no, plan.dpi, plan.layer));
    }
}

void StreamPage(Host& host, const PageSpec& plan) {
    SendPage(host, plan, PageTransfers(plan));
}

bool ParsePageSpec(const std::vector<std::string>& words, PageSpec* plan, int* count,
                   std::string* error) {
    uint32_t lines = 0;
    bool by_lines = false;
    for (const std::string& word : words) {
        const std::size_t eq = word.find('=');
        const std::string key = word.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
        uint32_t number = 0;
        bool ok = true;
        if (key == "pipe") {
            ok = ParseNumber(value, 1, &number);
            plan->pipe = static_cast<int>(number);
        } else if (key == "no") {
            ok = ParseNumber(value, 255, &number);
            plan->page_no = static_cast<uint8_t>(number);
        } else if (key == "layer") {
            ok = ParseNumber(value, 255, &number);
            plan->layer = static_cast<uint8_t>(number);
        } else if (key == "dpi") {
            ok = ParseNumber(value, 0xFFFF, &number);
            plan->dpi = static_cast<uint16_t>(number);
        } else if (key == "bytes") {
            ok = ParseNumber(value, 0x7FFFFFFF, &plan->data_bytes);
        } else if (key == "lines") {
            ok = ParseNumber(value, 100000, &lines);
            by_lines = true;
        } else if (key == "trailer") {
            ok = ParseNumber(value, kMaxTransfer, &plan->trailer_bytes);
        } else if (key == "events") {
            ok = ParseNumber(value, 1, &number);
            plan->events = number == 1;
        } else if (key == "count") {
            ok = ParseNumber(value, 1000000, &number);
            *count = static_cast<int>(number);
        } else if (key == "transfers") {
            plan->transfers.clear();
            std::istringstream sizes(value);
            std::string size;
            while (ok && std::getline(sizes, size, ',')) {
                ok = ParseNumber(size, kMaxTransfer, &number) && number > 0;
                plan->transfers.push_back(number);
            }
            ok = ok && !plan->transfers.empty();
        } else {
            ok = false;
        }
        if (!ok) {
            *error = "? bad page word: " + word;
            return false;
        }
    }
    if (by_lines) plan->data_bytes = lines * LineWidth(plan->dpi);
    return true;
}

std::string PageStreamHelp() {
    return "  page [pipe=0|1] [no=N] [layer=N] [dpi=N] [bytes=N|lines=N] [transfers=A,B,...]\n"
           "       [trailer=N] [events=0|1] [count=N]\n"
           "                        stream pages on a data pipe: scan-start event, start\n"
           "                        marker, data, end marker and trailer bytes cut into\n"
           "                        transfers of the given sizes (the last repeats; at most\n"
           "                        32768), scan-end event; count pages numbered from no\n";
}

}  // namespace zerik::sim
