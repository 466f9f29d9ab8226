// output.h - how errmc writes what it generates: each file whole or not at
// all (a temporary file beside it, renamed into place once written and
// closed), every write checked, and standard output checked too.
#ifndef ERRMC_OUTPUT_H
#define ERRMC_OUTPUT_H

#include "streams.h"

#include <string>
#include <utility>
#include <vector>

namespace errmc {

// Writes each (path, text): all the files, or none of them when one fails
// (the files already there are left as they were). An empty path is standard
// output (io.out), written last and checked by CloseStandardOutput(). A
// failure is printed; returns whether everything was written.
bool WriteOutputs(const std::vector<std::pair<std::string, std::string>> &files, Streams io);

// One file, or standard output when `path` is empty.
inline bool WriteOutput(const std::string &path, const std::string &text, Streams io) {
    return WriteOutputs({{path, text}}, io);
}

// Flushes and closes standard output; false (printed) when anything written
// there was lost, e.g. on a full disk.
bool CloseStandardOutput(Streams io);

} // namespace errmc

#endif
