// printf-style output to a caller's stream: the tools' listings keep their exact formats.
#pragma once

#include <ostream>

namespace recognition {

[[gnu::format(printf, 2, 3)]] void print_to(std::ostream& out, const char* format, ...);

}  // namespace recognition
