// summary.cpp - rank sets, folding records into rows, and the summary's text
// table and JSON document.
#include "summary.h"

#include "report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <ostream>

namespace errm_report {

// ------------------------------------------------------------- rank sets

namespace {
// Ranks above this are not kept in the set (the bitmap would be too large
// to be a mistake worth honouring); they are still counted.
constexpr std::int64_t kMaxRank = std::int64_t{1} << 26;
} // namespace

void RankSet::Add(std::int64_t rank) {
    if (rank < 0 || rank >= kMaxRank) return;
    const auto word = static_cast<std::size_t>(rank / 64);
    const std::uint64_t bit = std::uint64_t{1} << (rank % 64);
    if (word >= bits_.size()) bits_.resize(word + 1);
    if ((bits_[word] & bit) == 0) {
        bits_[word] |= bit;
        ++count_;
    }
}

std::vector<std::int64_t> RankSet::Ranks() const {
    std::vector<std::int64_t> out;
    out.reserve(count_);
    for (std::size_t i = 0; i < bits_.size(); ++i)
        for (std::uint64_t w = bits_[i]; w != 0; w &= w - 1)
            out.push_back(static_cast<std::int64_t>(i * 64) + std::countr_zero(w));
    return out;
}

std::string CompressRanks(const std::vector<std::int64_t> &ranks) {
    std::string out;
    for (std::size_t i = 0; i < ranks.size();) {
        std::size_t j = i;
        while (j + 1 < ranks.size() && ranks[j + 1] == ranks[j] + 1)
            ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(ranks[i]);
        if (j > i) out += '-' + std::to_string(ranks[j]);
        i = j + 1;
    }
    return out;
}

// ------------------------------------------------------------- folding

void Summary::Add(const Record &r) {
    if (records == 0 || r.timeUs < startUs) startUs = r.timeUs;
    if (records == 0 || r.timeUs > endUs) endUs = r.timeUs;
    ++records;
    if (keepTimes) times.emplace_back(r.timeUs, r.severityNumber);
    if (!r.run.empty() && std::find(runs.begin(), runs.end(), r.run) == runs.end())
        runs.emplace_back(r.run);
    if (r.size && *r.size > worldSize && *r.size <= kMaxRank) worldSize = *r.size;
    if (r.rank && *r.rank >= 0 && *r.rank < kMaxRank) {
        anyRank = true;
        const auto k = static_cast<std::size_t>(*r.rank);
        if (k >= rankTally.size()) rankTally.resize(k + 1);
        RankTally &t = rankTally[k];
        if (r.severityNumber >= 21) ++t.fatals;
        if (r.severityNumber >= 17)
            ++t.errors;
        else if (r.severityNumber >= 13)
            ++t.warnings;
        else
            ++t.others;
    }
    if (r.kind == "notice") {
        ++notices;
        return;
    }
    auto it = rows_.find(r.id);
    if (it == rows_.end()) {
        it = rows_.emplace(std::string(r.id), Row{}).first;
        Row &row = it->second;
        row.id = r.id;
        row.severity = r.severity;
        row.severityNumber = r.severityNumber;
        row.subsystem = r.subsystem;
        row.display = r.display;
        row.hasNumber = r.number.has_value();
        row.number = r.number.value_or(0);
        row.message = r.kind == "message";
        row.firstUs = row.lastUs = r.timeUs;
        row.first = row.last = r.time;
        row.text = r.text;
    }
    Row &row = it->second;
    ++row.count;
    if (r.severityNumber > row.severityNumber) {
        row.severityNumber = r.severityNumber;
        row.severity = r.severity;
    }
    if (r.timeUs < row.firstUs) {
        row.firstUs = r.timeUs;
        row.first = r.time;
        row.text = r.text;
    }
    if (r.timeUs > row.lastUs) {
        row.lastUs = r.timeUs;
        row.last = r.time;
    }
    if (r.rank) row.ranks.Add(*r.rank);
}

std::vector<const Row *> Summary::Sorted() const {
    std::vector<const Row *> out;
    out.reserve(rows_.size());
    for (const auto &entry : rows_)
        out.push_back(&entry.second);
    std::sort(out.begin(), out.end(), [](const Row *a, const Row *b) {
        if (a->severityNumber != b->severityNumber) return a->severityNumber > b->severityNumber;
        if (a->count != b->count) return a->count > b->count;
        return a->id < b->id;
    });
    return out;
}

std::vector<FileStats> Summarise(const std::vector<std::string> &files, Summary &summary) {
    std::vector<FileStats> stats;
    Record r;
    for (const std::string &path : files) {
        RecordReader reader(path);
        while (reader.Next(r))
            summary.Add(r);
        stats.push_back(reader.stats());
    }
    return stats;
}

// ------------------------------------------------------------- output

namespace {

// The first line of a text.
std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find('\n'));
}

// Display width of UTF-8 text: one column per code point.
std::size_t Width(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::uint64_t Sum(const std::vector<FileStats> &stats, std::uint64_t FileStats::*field) {
    std::uint64_t n = 0;
    for (const FileStats &f : stats)
        n += f.*field;
    return n;
}

} // namespace

void WriteTable(const Summary &s, const std::vector<FileStats> &stats, std::ostream &out) {
    const std::vector<const Row *> rows = s.Sorted();
    std::vector<std::array<std::string, 7>> cells;
    cells.push_back({"SEVERITY", "ID", "COUNT", "RANKS", "FIRST", "LAST", "TEXT"});
    for (const Row *r : rows) {
        const std::string ranks = CompressRanks(r->ranks.Ranks());
        cells.push_back({r->severity, r->id, std::to_string(r->count), ranks.empty() ? "-" : ranks,
                         r->first, r->last, std::string(FirstLine(r->text))});
    }
    std::array<std::size_t, 7> width{};
    for (const auto &line : cells)
        for (std::size_t c = 0; c < 6; ++c)
            width[c] = std::max(width[c], Width(line[c]));
    for (const auto &line : cells) {
        std::string text;
        for (std::size_t c = 0; c < 6; ++c)
            text += line[c] + std::string(width[c] - Width(line[c]) + 2, ' ');
        out << text << line[6] << "\n";
    }
    out << s.records << " records";
    if (s.notices > 0) out << " (" << s.notices << " repetition notices)";
    out << " in " << stats.size() << (stats.size() == 1 ? " file" : " files");
    if (s.records > 0) out << ", " << FormatTime(s.startUs) << " to " << FormatTime(s.endUs);
    out << "\n";
}

void WriteJson(const Summary &s, const std::vector<FileStats> &stats, std::ostream &out) {
    nlohmann::ordered_json doc;
    doc["files"] = stats.size();
    doc["records"] = s.records;
    doc["notices"] = s.notices;
    doc["invalid_lines"] = Sum(stats, &FileStats::invalid);
    std::uint64_t cut = 0;
    for (const FileStats &f : stats)
        cut += f.cut ? 1 : 0;
    doc["cut_lines"] = cut;
    doc["runs"] = s.runs;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Row *r : s.Sorted()) {
        nlohmann::ordered_json row;
        row["id"] = r->id;
        row["severity"] = r->severity;
        row["severity_number"] = r->severityNumber;
        row["subsystem"] = r->subsystem;
        row["count"] = r->count;
        row["first"] = r->first;
        row["last"] = r->last;
        row["ranks"] = CompressRanks(r->ranks.Ranks());
        row["rank_count"] = r->ranks.size();
        row["text"] = r->text;
        list.push_back(std::move(row));
    }
    doc["messages"] = std::move(list);
    out << doc.dump(2) << "\n";
}

} // namespace errm_report

namespace errm_report {

int SummaryCommand(const std::vector<std::string> &files, bool json, std::ostream &out) {
    Summary summary;
    const std::vector<FileStats> stats = Summarise(files, summary);
    if (json)
        WriteJson(summary, stats, out);
    else
        WriteTable(summary, stats, out);
    out.flush();
    return ReportStats(stats) ? 0 : 1;
}

} // namespace errm_report
