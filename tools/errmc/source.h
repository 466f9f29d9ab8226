// source.h - reads a catalogue source (TOML, one subsystem per file) into a
// descriptor catalogue, checking every field against the descriptor's bounds
// and reporting every problem found, each at its line and column.
#ifndef ERRMC_SOURCE_H
#define ERRMC_SOURCE_H

#include "diagnostics.h"
#include "errm_descwriter.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace errmc {

struct Source {
    errmdesc::Catalogue cat;
    bool stampGiven = false; // false: cat.stamp is empty and wants DefaultStamp()
};

// Limits that keep errmc's memory and stack bounded on any source: a larger
// source file is not read; arrays and inline tables nested deeper, dotted
// keys of more parts and more tables (messages) are refused before the TOML
// parser sees them.
inline constexpr std::size_t kMaxSourceBytes = 4u << 20; // 4 MiB
inline constexpr unsigned kMaxNesting = 32;              // open '[' and '{' at once
inline constexpr unsigned kMaxKeyParts = 32;             // parts of one dotted key
inline constexpr unsigned kMaxTables = 65536;            // "[[" headers and inline tables

// Parses and checks `text`, read from `path` (used only in messages). Returns
// the catalogue when no error was found; errors, warnings and notes go to
// `diags` either way.
std::optional<Source> ParseSource(std::string_view text, const std::string &path,
                                  Diagnostics &diags);

// ParseSource() of a source's whole text, refused when it is larger than
// kMaxSourceBytes; `name` is the file's name in messages.
std::optional<Source> ParseSourceInput(std::string_view text, const std::string &name,
                                       Diagnostics &diags);

// The stamp of a source that gives none: the time in SOURCE_DATE_EPOCH
// (`sourceDateEpoch`, may be null) or else `now`, as UTC "YYYYMMDDhhmm".
// Returns nothing with *error set when SOURCE_DATE_EPOCH is not a usable
// count of seconds.
std::optional<std::string> DefaultStamp(const char *sourceDateEpoch, std::time_t now,
                                        std::string *error);

// Keywords of the source format, shared with the decompiler.
inline constexpr std::string_view kDefaultVersion = "1.0.0";

} // namespace errmc

#endif
