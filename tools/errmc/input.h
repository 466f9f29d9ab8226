// input.h - what the catalogue-wide commands (doc, diff, the Fortran module)
// read: a catalogue from a source or a descriptor, whichever the file is, and
// the parameters a message's format takes.
#ifndef ERRMC_INPUT_H
#define ERRMC_INPUT_H

#include "commands.h"
#include "errm_descwriter.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace errmc {

struct InputCatalogue {
    errmdesc::Catalogue cat;     // messages sorted by number
    bool fromDescriptor = false; // read from a binary descriptor, not a source
};

// Reads `path` as a descriptor when it starts with the descriptor magic, else
// as a catalogue source. A source keeps the stamp it gives (none: empty), so
// that what is made from it does not depend on the clock. Problems are printed
// on io.err; nothing is returned when the file cannot be used.
std::optional<InputCatalogue> ReadAnyCatalogue(const std::string &path, Streams io);

// One argument the caller passes for a format, in order.
struct Parameter {
    std::string ctype;      // promoted C type: "int", "const char *", "double", ...
    std::string conversion; // the conversion it feeds, e.g. "%-8.*lu"
    bool star = false;      // a '*' width or precision
};

// The parameters of a format; every use of the printf parser by doc, diff and
// the Fortran generator goes through here. *usable (when given) is set to
// whether the format is one a source may hold (a descriptor's may not be).
std::vector<Parameter> FormatParameters(std::string_view format, bool *usable = nullptr);

} // namespace errmc

#endif
