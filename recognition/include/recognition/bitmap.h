// The two 8-bit bitmaps of the page viewer: the page picture and the column chart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recognition {

enum class BitmapKind {
    page_picture,  // 1728 wide, grey table with red at 255
    column_chart,  // 900 x 556, grey table with magenta at 255
};

inline constexpr std::size_t kBitmapHeaderBytes = 1078;  // file and info header, colours
inline constexpr std::int32_t kPagePictureWidth = 1728;
inline constexpr std::int32_t kColumnChartWidth = 900;
inline constexpr std::int32_t kColumnChartHeight = 556;

// File header, information header and colour table. The height applies to the page
// picture only (a negative height counts as 0); the chart is always 556 rows. Rows follow
// from the bottom of the picture upward.
std::vector<std::uint8_t> bitmap_header(BitmapKind kind, std::int32_t page_height = 0);

// The input name with the three characters after its first '.' replaced by "bmp"; a name
// without a '.' gets ".bmp" appended so that the picture never overwrites the input.
std::string bitmap_file_name(std::string_view input_name);

}  // namespace recognition
