// records.h - the record files a run leaves: one JSON object per line. A
// reader splits a file into lines and parses each with a single-pass JSON
// scanner that keeps only the fields the reports use; what a line did wrong
// (cut by a dying process, not JSON, a field missing) is counted per file.
#ifndef ERRM_REPORT_RECORDS_H
#define ERRM_REPORT_RECORDS_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace errm_report {

// One parsed record. The views point into the reader's buffers and stay
// valid until its next call.
struct Record {
    std::int64_t timeUs = 0;            // time, microseconds since the epoch (UTC)
    std::string_view time;              // time as written
    std::string_view host;              // host name
    std::int64_t pid = 0;               // process id
    std::optional<std::int64_t> rank;   // rank in the parallel launch, when known
    std::optional<std::int64_t> size;   // ranks in the launch, when known
    std::string_view run;               // run identifier
    std::string_view kind;              // message, notice, user or direct
    std::string_view subsystem;         // subsystem code
    std::string_view display;           // subsystem display name
    std::optional<std::int64_t> number; // message number
    std::string_view id;                // public id, else SUBSYSTEM-number
    std::string_view severity;          // severity keyword
    int severityNumber = 0;             // 1 (trace) .. 21 (fatal), 0 when unknown
    std::string_view text;              // the formatted text
};

// The text fields a record can carry, in the scanner's field order.
enum class Field { Time, Host, Run, Kind, Subsystem, Display, Id, Severity, Text, Count };

// Parses one line (without its line feed) as a record. Returns false when
// the line is not one JSON object of valid UTF-8, or lacks a parseable
// time, an id or a severity. Unknown fields are checked and skipped.
class RecordParser {
  public:
    bool Parse(std::string_view line, Record &out);

  private:
    std::array<std::string, static_cast<std::size_t>(Field::Count)> scratch_; // decoded escapes
    std::string key_;                                                         // decoded key
};

// Microseconds since the epoch of an RFC 3339 time ("2026-12-07T21:03:04.123456Z"
// or with a +hh:mm offset); nothing when the text is not one.
std::optional<std::int64_t> ParseTime(std::string_view text);

// Microseconds since the epoch as "2026-12-07T21:03:04.123456Z".
std::string FormatTime(std::int64_t us);

// The severity number of a keyword (TRACE 1 ... FATAL 21), 0 when unknown.
int SeverityNumberOf(std::string_view keyword);

// What reading one file found besides its records.
struct FileStats {
    std::string path;
    bool readable = true;               // false: the file could not be opened or read
    std::string error;                  // why, when not readable
    std::uint64_t records = 0;          // valid records
    std::uint64_t invalid = 0;          // complete lines that are not records
    std::uint64_t firstInvalidLine = 0; // 1-based, 0 when none
    bool cut = false;                   // the last line had no line feed (ignored)
};

// Reads a record file line by line, in blocks; memory stays at one block
// plus the longest line.
constexpr std::size_t kBlock = std::size_t{1} << 20;      // bytes read at a time
constexpr std::size_t kSmallBlock = std::size_t{1} << 16; // when many files are open at once

class RecordReader {
  public:
    explicit RecordReader(std::string path, std::size_t block = kBlock);
    ~RecordReader();
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    // The next valid record, false at the end (or on a read error: see stats()).
    bool Next(Record &out);
    const FileStats &stats() const { return stats_; }

  private:
    bool Fill();

    int fd_ = -1;
    FileStats stats_;
    std::vector<char> buf_;
    std::size_t begin_ = 0, end_ = 0; // unread bytes in buf_
    bool eof_ = false;
    std::uint64_t line_ = 0;
    RecordParser parser_;
};

// Writes the notes of the files' stats to standard error, one line each, and
// returns true when every file was read and every complete line was a record.
bool ReportStats(const std::vector<FileStats> &stats);

} // namespace errm_report

#endif
