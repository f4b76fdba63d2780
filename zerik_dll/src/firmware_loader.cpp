// Zerik_LoadDspFW: loads a linked TI COFF executable into one DSP.
//
// The whole file is read and checked before the first DSP write, so a
// malformed file loads nothing and every byte sent comes from the file.
#include "firmware_loader.h"

#include <cstdio>
#include <memory>
#include <new>

#include "context.h"
#include "log.h"
#include "texts.h"

namespace zerik {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

uint16_t Le16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Le32(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

enum class ReadResult { Ok, Unreadable, TooLarge };

// Reads the whole file, refusing one beyond the size any firmware has.
ReadResult ReadWholeFile(std::FILE* file, std::vector<uint8_t>* bytes) {
    bytes->clear();
    for (;;) {
        const std::size_t have = bytes->size();
        if (have > kMaxFirmwareFileSize) return ReadResult::TooLarge;
        bytes->resize(have + kReadChunk);
        const std::size_t got = std::fread(bytes->data() + have, 1, kReadChunk, file);
        bytes->resize(have + got);
        if (got < kReadChunk) {
            if (std::ferror(file)) return ReadResult::Unreadable;
            return bytes->size() > kMaxFirmwareFileSize ? ReadResult::TooLarge : ReadResult::Ok;
        }
    }
}

void SendSections(DeviceContext* dev, int32_t dsp, std::span<const uint8_t> file,
                  const FirmwareImage& image) {
    for (const CoffSection& section : image.sections) {
        LibraryLog(text::kSectionHeader, section.flags, section.physical_address,
                   static_cast<uint32_t>(section.size));
        if (!section.loaded()) continue;
        const auto size = static_cast<uint32_t>(section.size);
        LibraryLog(text::kSectionLoad, static_cast<uint32_t>(section.word_address()), size);
        std::span<const uint8_t> data = file.subspan(section.data_offset, size);
        // The last word of an odd section is completed with a zero byte of
        // our own, never with whatever follows the section in the file.
        std::vector<uint8_t> padded;
        if (size % 2 != 0) {
            padded.assign(data.begin(), data.end());
            padded.push_back(0);
            data = padded;
        }
        Zerik_WriteDspBuffer(dev, dsp, section.word_address(), size, data.data());
    }
}

void StartFirmware(DeviceContext* dev, int32_t dsp, uint32_t entry_point) {
    Zerik_WriteDspUshort(dev, dsp, kDspNumberWord, dsp);
    Zerik_WriteDspUshort(dev, dsp, kEntryLowWord, static_cast<int32_t>(entry_point & 0xFFFF));
    Zerik_WriteDspUshort(dev, dsp, kEntryHighWord,
                         static_cast<int32_t>(kStartBit | ((entry_point >> 16) & 0xFF)));
}

int32_t LoadFirmware(DeviceContext* dev, int32_t dsp, const char* path) {
    if (dev == nullptr || dsp < 0 || dsp > 1) return -1;
    File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        Trace(text::kFirmwareMissing);
        return -1;
    }
    std::vector<uint8_t> bytes;
    const ReadResult read = ReadWholeFile(file.get(), &bytes);
    file.reset();
    if (read == ReadResult::Unreadable) {
        Trace(text::kFirmwareMissing);
        return -1;
    }
    if (read == ReadResult::TooLarge) return -1;
    const FirmwareImage image = ParseFirmware(bytes);
    if (!image.ok()) return -1;

    SendSections(dev, dsp, bytes, image);
    StartFirmware(dev, dsp, image.entry_point);
    LibraryLog(text::kLoadEnd);
    return 0;
}

}  // namespace

FirmwareImage ParseFirmware(std::span<const uint8_t> file) {
    FirmwareImage image;
    if (file.size() > kMaxFirmwareFileSize) {
        image.error = CoffError::FileTooLarge;
        return image;
    }
    if (file.size() < kCoffFileHeaderSize) {
        image.error = CoffError::ShortFileHeader;
        return image;
    }
    const uint16_t section_count = Le16(file, 2);
    // Without the 28-byte optional header there is no entry point, and any
    // other size would move the section headers to an unknown place.
    if (Le16(file, 16) != kCoffOptionalHeaderSize) {
        image.error = CoffError::UnsupportedOptionalHeader;
        return image;
    }
    const std::size_t optional_at = kCoffFileHeaderSize;
    const std::size_t sections_at = optional_at + kCoffOptionalHeaderSize;
    if (file.size() < sections_at) {
        image.error = CoffError::ShortOptionalHeader;
        return image;
    }
    image.entry_point = Le32(file, optional_at + 16);
    if (file.size() - sections_at < std::size_t{section_count} * kCoffSectionHeaderSize) {
        image.error = CoffError::ShortSectionHeaders;
        return image;
    }
    image.sections.reserve(section_count);
    for (std::size_t i = 0; i < section_count; ++i) {
        const std::size_t at = sections_at + i * kCoffSectionHeaderSize;
        CoffSection section;
        section.physical_address = Le32(file, at + 8);
        section.size = static_cast<int32_t>(Le32(file, at + 16));
        section.data_offset = Le32(file, at + 20);
        section.flags = Le32(file, at + 40);
        if (section.loaded() &&
            (section.data_offset > file.size() ||
             file.size() - section.data_offset < static_cast<uint32_t>(section.size))) {
            image.error = CoffError::SectionDataOutsideFile;
            image.sections.clear();
            return image;
        }
        image.sections.push_back(section);
    }
    return image;
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_LoadDspFW(DeviceContext* dev, int32_t dsp, const char* path) {
    try {
        return LoadFirmware(dev, dsp, path);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

}  // extern "C"
