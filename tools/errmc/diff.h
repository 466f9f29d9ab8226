// diff.h - what changed between two versions of a catalogue, and whether
// each change breaks the callers compiled against the old one.
#ifndef ERRMC_DIFF_H
#define ERRMC_DIFF_H

#include "streams.h"
#include "errm_descwriter.h"

#include <optional>
#include <string>
#include <vector>

namespace errmc {

struct Change {
    std::optional<std::int32_t> number; // nothing for a change of the catalogue itself
    std::string name;                   // the message's name (the new one when renamed)
    std::string kind;                   // keyword: "removed", "parameter-type", "severity", ...
    bool breaking = false;
    std::string before, after;          // the field's old and new values, as text
    std::string detail;                 // one line for people
};

struct DiffOptions {
    // Callers use the generated headers, whose names come from message
    // names: a renamed message breaks them.
    bool headers = true;
};

// Changes of the catalogue first, then of the messages in number order (a
// removed or renumbered message at its old number). Both catalogues' messages
// must be sorted by number. Time linear in the number of messages.
std::vector<Change> DiffCatalogues(const errmdesc::Catalogue &before,
                                   const errmdesc::Catalogue &after, DiffOptions options);

// errmc diff: 0 when nothing breaks, 1 when something does or an input has
// errors (2, set by main, when an input cannot be read).
int DiffCommand(const std::string &oldPath, const std::string &newPath, bool json,
                DiffOptions options, Streams io);

} // namespace errmc

#endif
