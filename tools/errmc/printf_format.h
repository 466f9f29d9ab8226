// printf_format.h - checks a message's printf format as the library will use
// it and lists the C types of the arguments it consumes.
#ifndef ERRMC_PRINTF_FORMAT_H
#define ERRMC_PRINTF_FORMAT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace errmc {

// One argument that the format takes from the caller.
struct FormatArgument {
    std::string ctype;         // the C parameter type, e.g. "const char *", "unsigned long"
    std::string conversion;    // the conversion it belongs to, e.g. "%-8.*lu"
    bool starArgument = false; // a '*' width or precision, not the converted value
};

struct FormatProblem {
    std::size_t offset = 0; // byte offset of the conversion's '%' (0 for the whole format)
    std::string message;
};

struct ParsedFormat {
    // In the order the caller passes them: consumption order, or position
    // order when the format positions its arguments ("%2$s %1$d").
    std::vector<FormatArgument> arguments;
    std::vector<FormatProblem> problems; // errors: empty when the format is usable
    std::vector<FormatProblem> warnings; // usable, but probably not what was meant
    bool readsErrno = false;             // holds %m, which prints strerror(errno)
};

// Conversions are read by the library's own parser (base/errm_conv.h), so
// that errmc and the library agree on every format. Accepted: flags - + space
// # 0 and ' (grouping, with d i u f F g G); a width and a precision as
// digits, '*' or '*m$'; length modifiers hh h l ll j z t L; conversions
// d i u o x X e E f F g G a A c s p, %m (no argument) and %%; positional
// arguments when every argument is positioned, without gaps, each position
// read as one type. Problems: %n in any spelling; unknown conversions;
// spellings outside C (%Z, %q, %Ld, %C, %S, %I64x, the 'I' flag, wN) with
// the standard spelling to use; modifiers a conversion does not take; flag
// or precision uses that C leaves undefined; a format that ends inside a
// conversion; and a format the library refuses at every call, because its
// size estimate or its shortest text exceeds the library's line.
// Warnings: a space flag that most likely is a percent sign followed by
// text ("93% of", "(% used)"), and ' ' or '+' with a conversion they do not
// affect.
ParsedFormat ParsePrintfFormat(std::string_view format);

} // namespace errmc

#endif
