// Turns the row lines the recognition prints ("%02d: " then one three-character field per
// mark column, blank or a hex mark code) into one character per mark column: 'X' for a
// mark of grade 10..15, 'h' for grade 3..9, '.' for none, '?' for anything else.
#pragma once

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace zerik::sim {

inline char MarkClass(const std::string& field) {
    std::string hex;
    for (char c : field) {
        if (c != ' ') hex += c;
    }
    if (hex.empty()) return '.';
    if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
        return '?';
    }
    const int code = std::stoi(hex, nullptr, 16);
    const int grade = code & 0x0F;
    if (code == 0) return '.';
    if (grade >= 10) return 'X';
    if (grade >= 3) return 'h';
    return '?';
}

// Rows by number (row r at index r - 1); rows that were not printed stay empty.
inline std::vector<std::string> MarkRowsFromListing(const std::string& listing,
                                                    std::size_t columns) {
    std::vector<std::string> rows;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t digits = 0;
        while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
            ++digits;
        }
        if (digits < 2 || line.compare(digits, 2, ": ") != 0) continue;
        const auto row = static_cast<std::size_t>(std::stoi(line.substr(0, digits)));
        if (row == 0) continue;
        std::string marks;
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t at = digits + 2 + 3 * c;
            marks += MarkClass(at < line.size() ? line.substr(at, 3) : std::string());
        }
        if (rows.size() < row) rows.resize(row);
        rows[row - 1] = marks;
    }
    return rows;
}

}  // namespace zerik::sim
