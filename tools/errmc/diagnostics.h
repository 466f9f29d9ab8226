// diagnostics.h - errors and warnings found in a catalogue source, each at a
// line and column, printed as "file:line:column: error: message" followed by
// the source line and a caret, as compilers do; the one order they are shown
// in; "did you mean" suggestions.
#ifndef ERRMC_DIAGNOSTICS_H
#define ERRMC_DIAGNOSTICS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace errmc {

// A place in the source; line and column count from 1. Line 0 means "the
// file as a whole" and prints without a place.
struct Position {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

struct Diagnostic {
    enum class Kind { Error, Warning, Note };
    Kind kind = Kind::Error;
    Position at;
    std::string message;
};

class Diagnostics {
  public:
    // With `werror`, every warning is recorded as an error.
    explicit Diagnostics(bool werror = false) : werror_(werror) {}

    void Error(Position at, std::string message);
    void Warning(Position at, std::string message);
    void Note(Position at, std::string message);
    // An error of a file that could not be read at all.
    void Unreadable(std::string message);

    bool HasErrors() const { return errors_ > 0; }
    std::size_t ErrorCount() const { return errors_; }
    std::size_t WarningCount() const { return warnings_; }
    bool FileUnreadable() const { return unreadable_; }
    const std::vector<Diagnostic> &All() const { return all_; }

    // Every diagnostic in source order: line, column, then the order they
    // were found in; the file's own problems (line 0) first.
    std::vector<const Diagnostic *> Sorted() const;

    // Prints Sorted(), each prefixed with `file`. With the source text, each
    // placed one is followed by its line and a caret under the column (not
    // for a line that is not printable text); with `colour`, the place, the
    // kind and the caret are coloured. Time linear in the text and the
    // diagnostics.
    void Print(std::ostream &out, const std::string &file, std::string_view source = {},
               bool colour = false) const;

  private:
    std::vector<Diagnostic> all_;
    std::size_t errors_ = 0;
    std::size_t warnings_ = 0;
    bool werror_ = false;
    bool unreadable_ = false;
};

// "; did you mean 'X'?" for the candidate nearest to `word` (by edit
// distance, case aside) when it is near enough to be a slip; else "".
std::string DidYouMean(std::string_view word, const std::vector<std::string_view> &candidates);

// Whether diagnostics written on standard error are coloured: it is a
// terminal and NO_COLOR is not set.
bool ColourOnStderr();

} // namespace errmc

#endif
