#include "recognition/bitmap.h"

#include <algorithm>

#include "recognition/byte_order.h"

namespace recognition {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kPagePixelsPerMetre = 30000;

}  // namespace

std::vector<std::uint8_t> bitmap_header(BitmapKind kind, std::int32_t page_height) {
    const bool page = kind == BitmapKind::page_picture;
    const std::int32_t width = page ? kPagePictureWidth : kColumnChartWidth;
    const std::int32_t height = page ? std::max(page_height, 0) : kColumnChartHeight;
    const std::uint32_t pixel_bytes =
        static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height);

    std::vector<std::uint8_t> header(kBitmapHeaderBytes, 0);
    header[0] = 'B';
    header[1] = 'M';
    store_u32le(header, 2, static_cast<std::uint32_t>(kBitmapHeaderBytes) + pixel_bytes);
    store_u32le(header, 10, static_cast<std::uint32_t>(kBitmapHeaderBytes));

    const std::size_t info = kFileHeaderBytes;
    store_u32le(header, info + 0, kInfoHeaderBytes);
    store_u32le(header, info + 4, static_cast<std::uint32_t>(width));
    store_u32le(header, info + 8, static_cast<std::uint32_t>(height));
    store_u16le(header, info + 12, 1);  // planes
    store_u16le(header, info + 14, 8);  // bits per pixel
    store_u32le(header, info + 16, 0);  // no compression
    store_u32le(header, info + 20, page ? pixel_bytes : 0);
    store_u32le(header, info + 24, page ? kPagePixelsPerMetre : 0);
    store_u32le(header, info + 28, page ? kPagePixelsPerMetre : 0);
    store_u32le(header, info + 32, page ? 256 : 0);
    store_u32le(header, info + 36, page ? 256 : 0);

    const std::size_t colours = kFileHeaderBytes + kInfoHeaderBytes;
    for (std::size_t i = 0; i < 255; ++i) {
        const auto grey = static_cast<std::uint8_t>(i);
        header[colours + 4 * i] = grey;
        header[colours + 4 * i + 1] = grey;
        header[colours + 4 * i + 2] = grey;
    }
    // Entry 255 shows unaveraged markers (page) or the end of the mark data (chart).
    const std::size_t last = colours + 4 * 255;
    header[last] = page ? 0 : 255;
    header[last + 1] = 0;
    header[last + 2] = 255;
    return header;
}

std::string bitmap_file_name(std::string_view input_name) {
    const std::size_t dot = input_name.find('.');
    if (dot == std::string_view::npos) return std::string(input_name) + ".bmp";
    std::string name(input_name.substr(0, dot + 1));
    name += "bmp";
    if (input_name.size() > dot + 4) name += input_name.substr(dot + 4);
    return name;
}

}  // namespace recognition
