// errm_descwriter.h - builds binary error descriptors (errm_desc_<SS>.bin) from
// an in-memory catalogue, and reads them back for the tools.
//
// Not part of liberrm.so: the catalogue compiler and the tests use it to make
// descriptors. The writer encodes what it is given (it does not validate);
// Validate() lists what a conforming descriptor must not hold.
#ifndef ERRM_DESCWRITER_H
#define ERRM_DESCWRITER_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace errmdesc {

inline constexpr std::uint32_t kMagic = 0x45783417u;
inline constexpr std::size_t kHeaderSize = 56;

// One message entry, field for field as the entry record stores it.
struct Message {
    std::int32_t number = 0;
    std::uint32_t spareWord = 0;       // entry record offset 0, unused by the library
    std::string name;                  // entry name, 1..1023 bytes
    std::string id;                    // identifier text, empty = none
    std::uint8_t severity = 1;         // 1..8
    std::string env;                   // environment-variable name, empty = none
    std::string format;                // printf format, empty = none
    std::string second;                // second text (comment), empty = none
    std::uint8_t spareByte = 0;
    std::uint8_t force = 0;            // 1 = force display
    std::vector<std::uint8_t> reports; // channel ids, at most 16
    std::string see;                   // empty = none (never length 1)
    std::uint8_t dateKind = 0;         // 0..3
    std::string cat;                   // full text, "FILE=name"; empty = none
    std::string command;               // full text, "CMD=command"; empty = none
    std::int16_t rc = 0;
    std::uint32_t dirSpare = 0;        // directory record spare word
};

struct Catalogue {
    std::string subsystem;                          // 1..63 bytes
    std::string displayName;                        // 0..255 bytes
    std::array<std::uint8_t, 4> version{1, 0, 0, 0}; // major, minor, patch, fourth byte
    std::string stamp;                              // up to 12 bytes, zero-padded
    std::uint32_t reserved = 0;                     // header reserved word
    std::vector<Message> messages;                  // any order; written sorted by number
};

// Encodes the catalogue: header, names, directory (sorted by number, stable),
// then the entry records; the checksummed range is offset 56 to the end.
std::vector<std::uint8_t> Write(const Catalogue &cat);

// Write() to dir/errm_desc_<SUBSYSTEM upper-cased>.bin. Returns the path
// written, or an empty string with *error set.
std::string WriteFile(const Catalogue &cat, const std::string &dir, std::string *error);

// The file name a subsystem's descriptor has: "errm_desc_" + upper(name) + ".bin".
std::string FileName(const std::string &subsystem);

// Problems that make a catalogue non-conforming (empty when it is fine).
std::vector<std::string> Validate(const Catalogue &cat);

// What Read() found besides the catalogue.
struct ReadInfo {
    std::uint32_t magic = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t checksumLength = 0;
    std::uint32_t directoryOffset = 0;
    std::uint32_t checksumStart = 0;
    std::array<std::uint8_t, 16> digest{};
    bool digestMatches = false;
    std::string rawStamp; // the 12 stamp bytes as stored
};

// Decodes a whole descriptor, checking every offset and length against the
// buffer. Returns false with *error set when it is malformed.
bool Read(const std::vector<std::uint8_t> &bytes, Catalogue *cat, ReadInfo *info,
          std::string *error);

} // namespace errmdesc

#endif
