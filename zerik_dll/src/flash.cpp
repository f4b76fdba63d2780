// The configuration flash. The device offers a raw read and write of the
// chip's address space, with which the library drives the chip's own
// command cycles, and a program command that stores data bytes.
#include "flash.h"

#include <algorithm>
#include <cstring>

#include "command.h"
#include "context.h"
#include "log.h"
#include "platform/platform.h"
#include "texts.h"

namespace zerik {
namespace {

constexpr uint8_t kReadFlash = 0x0C;
constexpr uint8_t kWriteFlash = 0x0D;
constexpr uint8_t kProgramFlash = 0x10;
constexpr std::size_t kFlashReplyData = 3;
constexpr std::size_t kFlashHeader = 5;  // address (4 bytes), count

// Addresses of the chips' command cycles.
constexpr uint32_t kPagedCommandAddress = 0x555;
constexpr uint32_t kJedecFirstAddress = 0x5555;
constexpr uint32_t kJedecSecondAddress = 0x2AAA;
constexpr uint32_t kPagedSectorBytes = 0x100;
constexpr uint32_t kPagedSectorsPerBlock = kFlashEraseBlock / kPagedSectorBytes;

// Reading these addresses in this order lifts the paged chip's write protection.
constexpr uint32_t kPagedUnprotectReads[] = {0x1823, 0x1820, 0x1822, 0x0418,
                                             0x041B, 0x0419, 0x041A};

std::array<uint8_t, kFlashHeader> FlashHeader(uint32_t address, int32_t count) {
    return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24),
            static_cast<uint8_t>(count)};
}

int32_t SendFlashData(DeviceContext* dev, uint8_t code, uint32_t address, const uint8_t* data,
                      int32_t count) {
    std::array<uint8_t, kFlashHeader + kMaxFlashProgramBytes> payload{};
    const auto header = FlashHeader(address, count);
    std::copy(header.begin(), header.end(), payload.begin());
    if (count > 0)
        std::memcpy(payload.data() + kFlashHeader, data, static_cast<std::size_t>(count));
    return MsgExchange(dev, code, std::span(payload.data(), kFlashHeader + count), nullptr);
}

int32_t WriteByte(DeviceContext* dev, uint32_t address, uint8_t value) {
    return Zerik_WriteFlash(dev, address, &value, 1);
}

// One byte of the chip's address space; 0 when the read fails.
uint8_t ReadByte(DeviceContext* dev, uint32_t address, int32_t* status = nullptr) {
    uint8_t value = 0;
    const int32_t result = Zerik_ReadFlash(dev, address, &value, 1);
    if (status != nullptr) *status = result;
    return result == kOk ? value : 0;
}

uint32_t ReadIdentity(DeviceContext* dev) {
    const uint32_t maker = ReadByte(dev, 0);
    const uint32_t device = ReadByte(dev, 1);
    return maker << 8 | device;
}

// Waits until the chip reads 0xFF at the sector being erased. A failed
// read is passed on; a sector that stays busy gives -100.
int32_t WaitForSector(DeviceContext* dev, uint32_t address) {
    os::SleepMs(kSectorFirstWaitMs);
    for (int poll = 0;; ++poll) {
        int32_t status = kOk;
        const uint8_t value = ReadByte(dev, address, &status);
        if (status != kOk) return status;
        if (value == 0xFF) return kOk;
        if (poll == kSectorPolls) break;
        os::SleepMs(kSectorPollMs);
    }
    dev->Log(text::kEraseTimeout, address);
    return kDeviceFailure;
}

// Runs a chip's command cycle: the writes in order, stopping at a failure.
int32_t WriteCycle(DeviceContext* dev, std::initializer_list<std::pair<uint32_t, uint8_t>> writes) {
    for (const auto& [address, value] : writes) {
        if (const int32_t status = WriteByte(dev, address, value); status != kOk) return status;
    }
    return kOk;
}

int32_t ErasePagedChip(DeviceContext* dev, uint32_t address) {
    for (const uint32_t unprotect : kPagedUnprotectReads) {
        int32_t status = kOk;
        ReadByte(dev, unprotect, &status);
        if (status != kOk) return status;
    }
    for (uint32_t sector = 0; sector < kPagedSectorsPerBlock; ++sector) {
        const uint32_t sector_address = address + sector * kPagedSectorBytes;
        int32_t status = WriteCycle(dev, {{kPagedCommandAddress, 0x20}, {sector_address, 0xD0}});
        if (status == kOk) status = WaitForSector(dev, sector_address);
        if (status != kOk) return status;
    }
    return kOk;
}

int32_t EraseJedecChip(DeviceContext* dev, uint32_t address) {
    const int32_t status = WriteCycle(dev, {{kJedecFirstAddress, 0xAA},
                                            {kJedecSecondAddress, 0x55},
                                            {kJedecFirstAddress, 0x80},
                                            {kJedecFirstAddress, 0xAA},
                                            {kJedecSecondAddress, 0x55},
                                            {address, 0x30}});
    if (status != kOk) return status;
    return WaitForSector(dev, address);
}

// Programs a buffer piece by piece; stops at the first piece that fails.
int32_t ProgramBuffer(DeviceContext* dev, uint32_t address, const uint8_t* data, uint32_t length) {
    for (uint32_t offset = 0; offset < length;) {
        const FlashPiece piece = NextFlashPiece(address, offset, length);
        const int32_t status = Zerik_ProgramFlash(dev, piece.address, data + piece.offset,
                                                  static_cast<int32_t>(piece.size));
        if (status != kOk) return status;
        offset += piece.size;
    }
    return kOk;
}

int32_t SaveGammaTables(DeviceContext* dev, const uint8_t* table) {
    const auto image = GammaFlashImage(table);
    // What could not be read counts as different: the tables are written
    // (and a device that stopped answering is not asked 96 times over).
    bool stored = true;
    for (uint32_t pos = 0; pos < kGammaImageBytes; pos += kGammaReadBytes) {
        uint8_t held[kGammaReadBytes];
        if (Zerik_ReadFlash(dev, kGammaImageAddress + pos, held, kGammaReadBytes) != kOk) {
            stored = false;
            break;
        }
        stored = stored && std::memcmp(held, image.data() + pos, kGammaReadBytes) == 0;
    }
    if (stored) {
        dev->Log(text::kNoNeedToWriteFlash);
        return kOk;
    }
    // Programming can only clear bits: over a block that was not erased, or
    // without its header, the tables would be wrong, so stop at a failure.
    int32_t status = Zerik_EraseFlash(dev, kGammaHeaderAddress);
    if (status == kOk) {
        const auto header = GammaHeader();
        status = ProgramBuffer(dev, kGammaHeaderAddress, header.data(), kGammaHeaderBytes);
    }
    if (status == kOk) {
        status = ProgramBuffer(dev, kGammaImageAddress, image.data(), kGammaImageBytes);
    }
    dev->Log(text::kProgramResult, status);
    return status;
}

}  // namespace

FlashPiece NextFlashPiece(uint32_t address, uint32_t offset, uint32_t length) {
    const uint32_t at = address + offset;
    const uint32_t to_page_end = kFlashPageBytes - (at % kFlashPageBytes);
    return {at, offset, std::min({kFlashPieceBytes, to_page_end, length - offset})};
}

std::array<uint8_t, kGammaImageBytes> GammaFlashImage(const uint8_t* table) {
    constexpr std::size_t kEntries = 256;
    constexpr std::size_t kLayers = 3;
    std::array<uint8_t, kGammaImageBytes> image{};
    for (std::size_t dsp = 0; dsp < 2; ++dsp) {
        for (std::size_t layer = 0; layer < kLayers; ++layer) {
            for (std::size_t j = 0; j < kEntries; ++j) {
                const std::size_t word = dsp * kLayers * kEntries + layer * kEntries + j;
                image[2 * word] = table[layer * 2 * kEntries + dsp * kEntries + j];
                image[2 * word + 1] = 0;
            }
        }
    }
    return image;
}

std::array<uint8_t, kGammaHeaderBytes> GammaHeader() {
    std::array<uint8_t, kGammaHeaderBytes> header{};
    std::memcpy(header.data(), "GAMMA", 5);
    return header;
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_ReadFlash(DeviceContext* dev, uint32_t address, uint8_t* out,
                                  int32_t count) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (count < 0 || count > kMaxFlashRawBytes || (count > 0 && out == nullptr)) {
        return kBadArgument;
    }
    const auto header = FlashHeader(address, count);
    Reply reply{};
    const int32_t status = MsgExchange(dev, kReadFlash, header, &reply);
    if (status != kOk) return status;
    std::copy_n(reply.begin() + kFlashReplyData, count, out);
    return kOk;
}

ZERIK_API int32_t Zerik_WriteFlash(DeviceContext* dev, uint32_t address, const uint8_t* data,
                                   int32_t count) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (count < 0 || count > kMaxFlashRawBytes || (count > 0 && data == nullptr)) {
        return kBadArgument;
    }
    return SendFlashData(dev, kWriteFlash, address, data, count);
}

ZERIK_API int32_t Zerik_ProgramFlash(DeviceContext* dev, uint32_t address, const uint8_t* data,
                                     int32_t count) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (count < 0 || count > kMaxFlashProgramBytes || (count > 0 && data == nullptr)) {
        return kBadArgument;
    }
    return SendFlashData(dev, kProgramFlash, address, data, count);
}

ZERIK_API int32_t Zerik_ProgramFlashBuffer(DeviceContext* dev, uint32_t address,
                                           const uint8_t* data, uint32_t length) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (length == 0) return kOk;
    if (data == nullptr) return kBadArgument;
    return ProgramBuffer(dev, address, data, length);
}

ZERIK_API int32_t Zerik_CheckFlashChip(DeviceContext* dev) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    WriteByte(dev, kPagedCommandAddress, 0x90);
    uint32_t id = ReadIdentity(dev);
    WriteByte(dev, 1, 0xFF);
    dev->FlashId.store(id);
    if (id == kFlashPagedChip) {
        dev->Log(text::kFlashId, id);
        return kOk;
    }
    WriteCycle(
        dev, {{kJedecFirstAddress, 0xAA}, {kJedecSecondAddress, 0x55}, {kJedecFirstAddress, 0x90}});
    id = ReadIdentity(dev);
    WriteByte(dev, 1, 0xF0);
    dev->FlashId.store(id);
    dev->Log(id == kFlashJedecChip ? text::kFlashId : text::kUnknownFlashId, id);
    return kOk;
}

ZERIK_API int32_t Zerik_EraseFlash(DeviceContext* dev, uint32_t address) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    switch (dev->FlashId.load()) {
        case kFlashPagedChip:
            return ErasePagedChip(dev, address);
        case kFlashJedecChip:
            return EraseJedecChip(dev, address);
        default:
            return kOk;  // an unknown chip is left alone
    }
}

ZERIK_API int32_t Zerik_SaveGammaTblToFlash(DeviceContext* dev, const uint8_t* table) {
    if (dev == nullptr) return kBadArgument;
    dev->Log(text::kSaveGammaTable);
    if (table == nullptr) return kBadArgument;
    return SaveGammaTables(dev, table);
}

}  // extern "C"
