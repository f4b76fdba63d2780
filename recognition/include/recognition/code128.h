// The Code 128 symbol table: element widths of the 107 symbols.
#pragma once

#include <array>
#include <cstdint>

namespace recognition {

inline constexpr int kCode128SymbolCount = 107;
inline constexpr int kCode128StartA = 103;
inline constexpr int kCode128StartB = 104;
inline constexpr int kCode128StartC = 105;
inline constexpr int kCode128Stop = 106;
inline constexpr int kCode128CodeC = 99;
inline constexpr int kCode128CodeB = 100;
inline constexpr int kCode128CodeA = 101;
inline constexpr int kCode128Fnc1 = 102;
// The stop symbol ends with a seventh element, a bar of this many modules.
inline constexpr int kCode128StopFinalBar = 2;

using Code128Widths = std::array<std::uint8_t, 6>;

// Widths in modules (bar, space, bar, space, bar, space) of symbol value 0..106.
Code128Widths code128_widths(int value);

// Six widths of 1..4 modules packed as width − 1 in two bits each, first element highest.
constexpr std::uint16_t code128_pack(const Code128Widths& widths) {
    std::uint16_t packed = 0;
    for (std::uint8_t w : widths)
        packed = static_cast<std::uint16_t>((packed << 2) | ((w - 1) & 3));
    return packed;
}

// The symbol value whose packed pattern this is, or −1 when no symbol has it.
int code128_value(std::uint16_t packed);

}  // namespace recognition
