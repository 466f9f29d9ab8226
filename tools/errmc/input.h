// input.h - what errmc reads: the bytes of an input file or of standard input
// ("-"), read once; a catalogue source, a descriptor, or either, each with
// its problems printed and counted; and the parameters a message's format
// takes.
#ifndef ERRMC_INPUT_H
#define ERRMC_INPUT_H

#include "streams.h"
#include "errm_descwriter.h"
#include "source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace errmc {

// The bytes of one input. A regular file is mapped, not copied, so that a
// large or sparse file costs no memory until its bytes are used; standard
// input is read up to kMaxStdinBytes. Anything else (a FIFO, a folder, a
// device) is refused without blocking.
class InputFile {
  public:
    InputFile() = default;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // Opens `path`; false with *why set ("cannot open: ...", "not a regular
    // file", ...).
    bool Open(const std::string &path, std::string *why);

    std::string_view Text() const { return view_; }
    const std::uint8_t *Data() const { return reinterpret_cast<const std::uint8_t *>(view_.data()); }
    std::size_t Size() const { return view_.size(); }
    // Whether the bytes start with the descriptor magic.
    bool IsDescriptor() const;

  private:
    void *map_ = nullptr;
    std::size_t mapSize_ = 0;
    std::string owned_;
    std::string_view view_;
};

inline constexpr std::size_t kMaxStdinBytes = 64u << 20; // 64 MiB

// The name shown for an input path: "<stdin>" for "-".
std::string ShownName(const std::string &path);

// Reads the file ("-": standard input) and parses it; a file that cannot be
// read or that is not a regular file is an error without a position
// (Diagnostics::FileUnreadable()), as is one larger than kMaxSourceBytes. The
// text read is stored in *text when given (empty when none was read), so that
// callers never open the file a second time.
std::optional<Source> ParseSourceFile(const std::string &path, Diagnostics &diags,
                                      std::string *text = nullptr);

// A source read and checked; its diagnostics printed with their source lines.
// Nothing when it has errors or cannot be read.
std::optional<Source> ReadSource(const std::string &path, Streams io);

// A descriptor read and decoded. On failure the problem is printed and false
// returned; *info is filled as far as decoding got either way.
bool ReadDescriptor(const std::string &path, errmdesc::Catalogue *cat, errmdesc::ReadInfo *info,
                    Streams io);

// The same, printing nothing: false with *why set, and *unreadable when the
// file could not be read at all.
bool DecodeDescriptorFile(const std::string &path, errmdesc::Catalogue *cat,
                          errmdesc::ReadInfo *info, std::string *why, bool *unreadable);

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
