#include "recognition/code128.h"

#include <string_view>

namespace recognition {
namespace {

// Element widths of symbol values 0..106, bar first.
constexpr std::string_view kPatterns[kCode128SymbolCount] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "233111",
};

constexpr Code128Widths widths_of(std::string_view pattern) {
    Code128Widths widths{};
    for (std::size_t i = 0; i < widths.size(); ++i) {
        widths[i] = static_cast<std::uint8_t>(pattern[i] - '0');
    }
    return widths;
}

struct PackedTable {
    std::array<std::int8_t, 4096> value_of{};

    constexpr PackedTable() {
        for (auto& v : value_of) v = -1;
        for (int value = 0; value < kCode128SymbolCount; ++value) {
            value_of[code128_pack(widths_of(kPatterns[value]))] = static_cast<std::int8_t>(value);
        }
    }
};

constexpr PackedTable kPackedTable;

static_assert(code128_pack(widths_of(kPatterns[0])) == 1109);
static_assert(code128_pack(widths_of(kPatterns[kCode128Stop])) == 1664);

}  // namespace

Code128Widths code128_widths(int value) {
    if (value < 0 || value >= kCode128SymbolCount) return {};
    return widths_of(kPatterns[value]);
}

int code128_value(std::uint16_t packed) {
    return packed < kPackedTable.value_of.size() ? kPackedTable.value_of[packed] : -1;
}

}  // namespace recognition
