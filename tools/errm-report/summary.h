// summary.h - one run's records folded into one row per message id: its
// count, first and last time, the ranks that raised it and the text of its
// first occurrence; rank sets and their compressed form.
#ifndef ERRM_REPORT_SUMMARY_H
#define ERRM_REPORT_SUMMARY_H

#include "records.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <unordered_map>
#include <vector>

namespace errm_report {

// A set of ranks, one bit each.
class RankSet {
  public:
    void Add(std::int64_t rank);
    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    std::vector<std::int64_t> Ranks() const;

  private:
    std::vector<std::uint64_t> bits_;
    std::size_t count_ = 0;
};

// "0-2,5": ascending runs of consecutive ranks as first-last, single ranks
// alone, separated by commas; "" for no rank.
std::string CompressRanks(const std::vector<std::int64_t> &ranks);

struct Row {
    std::string id;
    std::string severity; // the most severe keyword seen for the id
    int severityNumber = 0;
    std::string subsystem;
    std::string display;
    std::int64_t number = 0;
    bool hasNumber = false;
    bool message = false; // a catalogue message (kind "message")
    std::uint64_t count = 0;
    std::int64_t firstUs = 0, lastUs = 0;
    std::string first, last; // the times as written
    std::string text;        // of the first occurrence
    RankSet ranks;
};

// Per rank: how many records of each severity class it wrote.
struct RankTally {
    std::uint64_t errors = 0;   // ERROR, ERROR_DELAYED and FATAL (17 and above)
    std::uint64_t fatals = 0;   // FATAL (21 and above)
    std::uint64_t warnings = 0; // WARNING (13 to 16)
    std::uint64_t others = 0;
};

class Summary {
  public:
    // Adds one record. Repetition notices are counted apart: they repeat an
    // id that the message's own records already count.
    void Add(const Record &r);
    // The rows, most severe first, then by count (highest first), then id.
    std::vector<const Row *> Sorted() const;

    std::uint64_t records = 0;           // every record added
    std::uint64_t notices = 0;           // of which repetition notices
    std::int64_t startUs = 0, endUs = 0; // span of the run's records
    std::vector<RankTally> rankTally;    // indexed by rank
    bool anyRank = false;
    std::int64_t worldSize = 0;    // the largest launch size a record gave
    std::vector<std::string> runs; // distinct run identifiers, in order of appearance
    // When keepTimes is set, every record's time and severity number, in
    // order of reading, for the timeline of the page.
    bool keepTimes = false;
    std::vector<std::pair<std::int64_t, int>> times;

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_map<std::string, Row, Hash, std::equal_to<>> rows_;
};

// Reads every file into the summary; the files' stats are returned.
std::vector<FileStats> Summarise(const std::vector<std::string> &files, Summary &summary);

// The summary as an aligned text table, and as one JSON document.
void WriteTable(const Summary &s, const std::vector<FileStats> &stats, std::ostream &out);
void WriteJson(const Summary &s, const std::vector<FileStats> &stats, std::ostream &out);

} // namespace errm_report

#endif
