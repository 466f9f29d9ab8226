// json.h - the --json forms of check, info and dump: one JSON document on
// standard output, its keys always present and always in the same order.
#ifndef ERRMC_JSON_H
#define ERRMC_JSON_H

#include "streams.h"

#include <string>

namespace errmc {

// Same exit status as the text forms; problems are "diagnostics" entries of
// the document instead of lines on standard error.
int CheckJsonCommand(const std::string &source, Streams io);
int InfoJsonCommand(const std::string &descriptor, Streams io);
int DumpJsonCommand(const std::string &descriptor, Streams io);

} // namespace errmc

#endif
