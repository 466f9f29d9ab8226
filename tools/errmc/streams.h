// streams.h - what every errmc command shares: the exit statuses, the run's
// state (--werror, colour, the count of errors and warnings printed), and the
// streams a command writes on with the one way of printing a problem.
#ifndef ERRMC_STREAMS_H
#define ERRMC_STREAMS_H

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace errmc {

class Diagnostics;

// Exit statuses. A command returns kExitOk or kExitFailed; main makes it
// kExitUnusable when a file could not be read or written, whatever else.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // errors in the input, or a breaking diff
inline constexpr int kExitUnusable = 2; // a usage error, or a file not read or written

struct RunState {
    bool werror = false;        // warnings are errors
    bool colour = false;        // colour the diagnostics on err
    std::size_t errors = 0;     // printed on err so far
    std::size_t warnings = 0;   // printed on err so far
    bool fileUnusable = false;  // a file could not be read or written

    // "2 errors, 1 warning"; empty when nothing was printed.
    std::string Summary() const;
    // The exit status of a command that returned `status`.
    int Status(int status) const;
};

struct Streams {
    std::ostream &out; // results
    std::ostream &err; // diagnostics
    RunState *run = nullptr;

    // "errmc: error: message" and the like, counted. A warning is an error
    // under --werror.
    void Error(std::string_view message) const;
    void Warning(std::string_view message) const;
    void Note(std::string_view message) const;
    // An error about a file that could not be read or written; MarkUnusable
    // records one that is reported elsewhere (in a JSON document).
    void Unusable(std::string_view message) const;
    void MarkUnusable() const;
    // Prints the diagnostics of `file` (with its text, for the source lines)
    // and counts them.
    void Print(const Diagnostics &diags, const std::string &file,
               std::string_view text = {}) const;
    bool Werror() const { return run && run->werror; }
};

} // namespace errmc

#endif
