// printf_format.h - parses a printf format into the C types of the arguments
// it consumes, and finds the conversions a message format must not hold.
#ifndef ERRMC_PRINTF_FORMAT_H
#define ERRMC_PRINTF_FORMAT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace errmc {

// One argument that the format takes from the caller, in order.
struct FormatArgument {
    std::string ctype;         // the C parameter type, e.g. "const char *", "unsigned long"
    std::string conversion;    // the conversion it belongs to, e.g. "%-8.*lu"
    bool starArgument = false; // a '*' width or precision, not the converted value
};

struct FormatProblem {
    std::size_t offset = 0; // byte offset of the conversion's '%'
    std::string message;
};

struct ParsedFormat {
    std::vector<FormatArgument> arguments;
    std::vector<FormatProblem> problems; // empty when the format is usable
};

// Flags - + space # 0; width and precision as digits or '*'; length
// modifiers hh h l ll j z t L; conversions d i u o x X e E f F g G a A c s p
// and %%. %n, positional arguments ("%1$d"), unknown conversions, modifiers a
// conversion does not take, and flag or precision uses that C leaves undefined
// are problems.
ParsedFormat ParsePrintfFormat(std::string_view format);

} // namespace errmc

#endif
