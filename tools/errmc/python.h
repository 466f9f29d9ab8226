// python.h - what Python callers get from a catalogue: the exact C type and
// value range of each argument a format takes (for "dump --json" and the
// Python module), and the typed Python module of "header --lang python".
#ifndef ERRMC_PYTHON_H
#define ERRMC_PYTHON_H

#include "streams.h"
#include "errm_descwriter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace errmc {

// One argument of a format as a caller passes it through a variadic call.
struct PythonArg {
    std::string ctype;    // the promoted C type: "int", "const char *", ...
    std::string kind;     // int, float, str, wstr, char, wchar or pointer
    bool ranged = false;  // min and max hold (integer kinds)
    std::int64_t min = 0; // the values the conversion shows unchanged
    std::uint64_t max = 0;
    std::string conversion; // e.g. "%-8.*hd"
    bool star = false;      // a '*' width or precision
};

// The arguments of a format, in the order the caller passes them; *usable
// (when given) is set to whether errmc check accepts the format.
std::vector<PythonArg> PythonArgs(std::string_view format, bool *usable = nullptr);

// The "args" list of a message in dump --json: one object per argument with
// the fields of PythonArg (min and max null when not ranged).
nlohmann::ordered_json PythonArgsJson(std::string_view format);

struct PythonModule {
    std::string text;
    std::vector<std::string> problems; // why no module can be made
};

// `sourceName` is named in the module's top comment.
PythonModule GeneratePython(const errmdesc::Catalogue &cat, const std::string &sourceName);

// errmc header --lang python: the module of a source or descriptor, written
// to outFile (default: standard output).
int PythonCommand(const std::string &source, const std::string &outFile, Streams io);

} // namespace errmc

#endif
