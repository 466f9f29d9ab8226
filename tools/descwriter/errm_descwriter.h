// errm_descwriter.h - builds binary error descriptors (errm_desc_<SS>.bin) from
// an in-memory catalogue, and reads them back for the tools.
//
// Not part of liberrm.so: the catalogue compiler and the tests use it to make
// descriptors. The writer encodes what it is given (it does not validate);
// Validate() lists what a conforming descriptor must not hold.
#ifndef ERRM_DESCWRITER_H
#define ERRM_DESCWRITER_H

#include "descriptor/errm_format.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace errmdesc {

// The format's layout and bounds (descriptor/errm_format.h), by the names
// the tools use.
inline constexpr std::uint32_t kMagic = ERRM_DESC_MAGIC;
inline constexpr std::size_t kHeaderSize = ERRM_DESC_HEADER;
inline constexpr std::size_t kDirectoryRecordSize = ERRM_DESC_DIR_RECORD;
inline constexpr std::size_t kMaxSubsystem = ERRM_DESC_NAME_MAX;
inline constexpr std::size_t kMaxDisplayName = ERRM_DESC_DISPLAY_MAX;
inline constexpr std::size_t kStampSize = ERRM_DESC_STAMP_SIZE;
inline constexpr std::size_t kMaxEntryName = ERRM_DESC_ENTRY_NAME_MAX;
inline constexpr std::size_t kMaxId = ERRM_DESC_ID_MAX;
inline constexpr std::size_t kMaxEnv = ERRM_DESC_ENV_MAX;
inline constexpr std::size_t kMaxFormat = ERRM_DESC_FORMAT_MAX;
inline constexpr std::size_t kMaxSecond = ERRM_DESC_SECOND_MAX;
inline constexpr std::size_t kMaxReports = ERRM_DESC_REPORTS_MAX;
inline constexpr std::size_t kMinLongText = ERRM_DESC_LONG_TEXT_MIN;
inline constexpr std::size_t kMaxLongText = ERRM_DESC_LONG_TEXT_MAX;
inline constexpr std::uint8_t kMaxSeverity = ERRM_DESC_SEVERITY_MAX;
inline constexpr std::uint8_t kMaxDateKind = ERRM_DESC_DATE_KIND_MAX;
inline constexpr std::uint8_t kMaxVersionDigit = 9; // major, minor, patch: 0..9
inline constexpr char kCatPrefix[] = "FILE=";       // start of every cat text
inline constexpr char kCommandPrefix[] = "CMD=";    // start of every command text

// Severity keywords by code; index 0 is no severity.
inline constexpr std::array<const char *, 9> kSeverityNames{
    "", "ERROR", "ERROR_DELAYED", "WARNING", "FATAL", "TRACE", "DEBUG", "NOTE", "DISPLAY"};
// Report channel names by channel id.
inline constexpr std::array<const char *, 9> kChannelNames{
    "STDOUT", "PIPE", "TRANSCRIPT", "DBG_I", "DBG_C", "REPORT", "CHI", "LOG", "REPORT_F"};
// Date-stamp kinds by code: none, date and time, date, time.
inline constexpr std::array<const char *, 4> kDateKindNames{"none", "datetime", "date", "time"};

// One message entry, field for field as the entry record stores it.
struct Message {
    std::int32_t number = 0;
    std::uint32_t spareWord = 0; // entry record offset 0, unused by the library
    std::string name;            // entry name, 1..1023 bytes
    std::string id;              // identifier text, empty = none
    std::uint8_t severity = 1;   // 1..8
    std::string env;             // environment-variable name, empty = none
    std::string format;          // printf format, empty = none
    std::string second;          // second text (comment), empty = none
    std::uint8_t spareByte = 0;
    std::uint8_t force = 0;            // 1 = force display
    std::vector<std::uint8_t> reports; // channel ids, at most 16
    std::string see;                   // empty = none (never length 1)
    std::uint8_t dateKind = 0;         // 0..3
    std::string cat;                   // full text, "FILE=name"; empty = none
    std::string command;               // full text, "CMD=command"; empty = none
    std::int16_t rc = 0;
    std::uint32_t dirSpare = 0; // directory record spare word
};

struct Catalogue {
    std::string subsystem;                           // 1..63 bytes
    std::string displayName;                         // 0..255 bytes
    std::array<std::uint8_t, 4> version{1, 0, 0, 0}; // major, minor, patch, fourth byte
    std::string stamp;                               // up to 12 bytes, zero-padded
    std::uint32_t reserved = 0;                      // header reserved word
    std::vector<Message> messages;                   // any order; written sorted by number
};

// Encodes the catalogue: header, names, directory (sorted by number, stable),
// then the entry records; the checksummed range is offset 56 to the end.
// A text longer than its length field can count (a 300-byte display name in
// a u8 length) is stored cut to that field's maximum; Validate() reports it.
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
    std::string rawStamp;                    // the 12 stamp bytes as stored
    std::size_t fileSize = 0;                // size of the buffer read
    std::vector<std::uint32_t> entryOffsets; // entry record offset, by directory position
};

// Decodes a whole descriptor, checking every offset and length against the
// buffer. Returns false with *error set when it is malformed.
// The catalogue comes back with its messages in directory order, each with its
// directory record's spare word. Lengths outside a field's bounds, a directory
// that is not strictly ascending, or an entry whose number differs from its
// directory record make the descriptor malformed; out-of-range values
// (severity, date kind, channel ids, version digits) are decoded as they are
// and left to Validate(). A digest that does not match is not an error: it is
// reported in info->digestMatches. Any of cat, info and error may be null;
// info is filled as far as decoding got, even on failure.
bool Read(const std::vector<std::uint8_t> &bytes, Catalogue *cat, ReadInfo *info,
          std::string *error);

// The same over a plain buffer (fuzzers, mapped files).
bool Read(const std::uint8_t *data, std::size_t size, Catalogue *cat, ReadInfo *info,
          std::string *error);

// Reads a descriptor file whole and decodes it with Read().
bool ReadFile(const std::string &path, Catalogue *cat, ReadInfo *info, std::string *error);

// The MD5 digest of a byte range, as the header stores it.
std::array<std::uint8_t, 16> Digest(const std::uint8_t *data, std::size_t size);

} // namespace errmdesc

#endif
