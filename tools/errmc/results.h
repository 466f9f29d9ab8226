// results.h - the library's results explained: 0, 1 and each error code's
// name, catalogue text, the functions that return it, usual cause and remedy,
// for "errmc explain" and docs/results.md.
#ifndef ERRMC_RESULTS_H
#define ERRMC_RESULTS_H

#include "streams.h"

#include <ostream>
#include <string>
#include <string_view>

namespace errmc {

struct ResultInfo {
    int code;
    const char *name;       // the constant of errm.h, e.g. "ERRM_ERR_NOT_FOUND"
    const char *returnedBy; // the exported functions that return it, or why none does
    const char *cause;      // when it happens; a call out of order first when usual
    const char *remedy;     // what the caller does about it
};

// The entry of a code given as a number ("1024") or a constant's name, with
// or without its ERRM_ERR_ (ERRM_) prefix, in any case; null when there is
// none.
const ResultInfo *FindResult(std::string_view codeOrName);

// The library's catalogue text of a code, without its final line feeds.
std::string ResultText(int code);

// One entry as "errmc explain" prints it.
void PrintResult(std::ostream &out, const ResultInfo &r);

// The page docs/results.md: every entry in code order.
void PrintResultsPage(std::ostream &out);

// errmc explain CODE: prints the entry, or fails when there is none; with
// `all`, prints the whole page instead.
int ExplainCommand(const std::string &code, bool all, Streams io);

// errmc explain --json: the same as JSON, an object {code, name, text, cause,
// remedy} per code; with `all`, {"results": [every object in code order]}.
int ExplainJsonCommand(const std::string &code, bool all, Streams io);

} // namespace errmc

#endif
