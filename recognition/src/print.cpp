#include "print.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace recognition {

void print_to(std::ostream& out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        out.write(text.data(), length);
    }
    va_end(again);
}

}  // namespace recognition
