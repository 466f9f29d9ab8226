// diagnostics.h - errors and warnings found in a catalogue source, each at a
// line and column, printed as "file:line:column: error: message".
#ifndef ERRMC_DIAGNOSTICS_H
#define ERRMC_DIAGNOSTICS_H

#include <cstdint>
#include <ostream>
#include <string>
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
    void Error(Position at, std::string message);
    void Warning(Position at, std::string message);
    void Note(Position at, std::string message);

    bool HasErrors() const { return errors_ > 0; }
    std::size_t ErrorCount() const { return errors_; }
    const std::vector<Diagnostic> &All() const { return all_; }

    // Prints every diagnostic in source order (line, column, then the order
    // they were found in), each prefixed with `file`.
    void Print(std::ostream &out, const std::string &file) const;

  private:
    std::vector<Diagnostic> all_;
    std::size_t errors_ = 0;
};

} // namespace errmc

#endif
