// errm_format.h - the binary descriptor format: the header's fields and their
// offsets, the directory record, the entry record's fields in order, and the
// bounds of every length and count. The loader, the information reader, the
// descriptor writer and errmc read the layout from here alone.
//
// A descriptor is little-endian on every host:
//
//   header      56 bytes (fields below)
//   names       u8 length + subsystem name (1..63), u8 length + display name
//               (0..255), right after the header
//   entries     one entry record a message, anywhere after the names
//   directory   entry count records of 12 bytes, at the recorded offset,
//               ascending by message number
//
// An entry record holds, in order: u32 spare word, u32 name length + name,
// i32 number, u16 id length + id, u8 severity, u16 environment-name length +
// name, u16 format length + format, u16 second-text length + text, u8 spare
// byte, u8 force flag, u8 report count + that many channel ids, u16 see
// length + text, u8 date kind, u16 cat length + text, u16 command length +
// text, i16 return code.
//
// Plain constants only: this header is shared with the tools and includes
// nothing of the library.
#ifndef ERRM_FORMAT_H
#define ERRM_FORMAT_H

#include <cstddef>
#include <cstdint>

// ------------------------------------------------------------------- header

inline constexpr std::uint32_t ERRM_DESC_MAGIC = 0x45783417u;
inline constexpr unsigned char ERRM_DESC_MAGIC_BYTES[4] = {0x17, 0x34, 0x78, 0x45}; // in the file
inline constexpr std::size_t ERRM_DESC_HEADER = 56;

// Offsets of the header's fields. The first six are u32 words.
inline constexpr std::size_t ERRM_DESC_OFF_MAGIC = 0;       // ERRM_DESC_MAGIC
inline constexpr std::size_t ERRM_DESC_OFF_COUNT = 4;       // entry count (directory records)
inline constexpr std::size_t ERRM_DESC_OFF_SUM_LENGTH = 8;  // bytes covered by the digest
inline constexpr std::size_t ERRM_DESC_OFF_DIRECTORY = 12;  // file offset of the directory
inline constexpr std::size_t ERRM_DESC_OFF_SUM_START = 16;  // first byte covered by the digest
inline constexpr std::size_t ERRM_DESC_OFF_RESERVED = 20;   // carried, unused
inline constexpr std::size_t ERRM_DESC_OFF_DIGEST = 24;     // MD5 of the covered bytes
inline constexpr std::size_t ERRM_DESC_OFF_VERSION = 40;    // major, minor, patch, spare
inline constexpr std::size_t ERRM_DESC_OFF_STAMP = 44;      // stamp text, zero-padded
inline constexpr std::size_t ERRM_DESC_HEADER_WORDS = 6;    // u32 words at the start
inline constexpr std::size_t ERRM_DESC_DIGEST_SIZE = 16;
inline constexpr std::size_t ERRM_DESC_VERSION_SIZE = 4;
inline constexpr std::size_t ERRM_DESC_STAMP_SIZE = 12;
inline constexpr int ERRM_DESC_MIN_VERSION = 100;           // 1.0.0, as 100 major + 10 minor + patch

static_assert(ERRM_DESC_HEADER_WORDS * 4 == ERRM_DESC_OFF_DIGEST, "six words, then the digest");
static_assert(ERRM_DESC_OFF_DIGEST + ERRM_DESC_DIGEST_SIZE == ERRM_DESC_OFF_VERSION &&
                  ERRM_DESC_OFF_VERSION + ERRM_DESC_VERSION_SIZE == ERRM_DESC_OFF_STAMP &&
                  ERRM_DESC_OFF_STAMP + ERRM_DESC_STAMP_SIZE == ERRM_DESC_HEADER,
              "the header's fields fill its 56 bytes");
static_assert((ERRM_DESC_MAGIC & 0xFFu) == ERRM_DESC_MAGIC_BYTES[0] &&
                  (ERRM_DESC_MAGIC >> 24) == ERRM_DESC_MAGIC_BYTES[3],
              "the magic is stored little-endian");

// --------------------------------------------------------- names, directory

inline constexpr std::size_t ERRM_DESC_NAME_MAX = 63;     // u8 length, 1..63
inline constexpr std::size_t ERRM_DESC_DISPLAY_MAX = 255; // u8 length, 0..255
inline constexpr std::size_t ERRM_DESC_DIR_RECORD = 12;   // i32 number, u32 offset, u32 spare

// ------------------------------------------------------------ entry record

inline constexpr std::size_t ERRM_DESC_ENTRY_NAME_MAX = 1023; // u32 length, 1..1023
inline constexpr std::size_t ERRM_DESC_ID_MAX = 1023;         // u16 length, 0..1023
inline constexpr std::size_t ERRM_DESC_ENV_MAX = 128;         // u16 length, 0..128
inline constexpr std::size_t ERRM_DESC_FORMAT_MAX = 4095;     // u16 length, 0..4095
inline constexpr std::size_t ERRM_DESC_SECOND_MAX = 4095;     // u16 length, 0..4095
inline constexpr std::size_t ERRM_DESC_REPORTS_MAX = 16;      // u8 count, 0..16
inline constexpr std::size_t ERRM_DESC_LONG_TEXT_MIN = 2;     // see, cat, command: 0 or 2..1023
inline constexpr std::size_t ERRM_DESC_LONG_TEXT_MAX = 1023;
inline constexpr std::uint8_t ERRM_DESC_SEVERITY_MAX = 8;     // codes 1..8
inline constexpr std::uint8_t ERRM_DESC_DATE_KIND_MAX = 3;    // kinds 0..3
// The entry record's fixed part before its name: the spare word and the
// name's length.
inline constexpr std::size_t ERRM_DESC_ENTRY_LEAD = 8;

#endif
