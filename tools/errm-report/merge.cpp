// merge.cpp - the run's records as one time-ordered stream of decorated
// lines, each prefixed with the rank that wrote it. The files are merged as
// they are read (each one is in time order already), so memory holds one
// line per file; past the open-file limit, the lines are sorted in memory.
#include "report.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <queue>
#include <sys/resource.h>

namespace errm_report {

namespace {

struct SeverityWord {
    std::string_view keyword;
    std::string_view word; // empty: the text alone, as the library prints it
};
constexpr SeverityWord kWords[] = {
    {"ERROR", "Error"}, {"ERROR_DELAYED", "Error"}, {"WARNING", "Warning"}, {"FATAL", "Fatal"},
    {"TRACE", "Trace"}, {"DEBUG", "Debug"},         {"NOTE", "Note"},       {"DISPLAY", ""},
};

// 1,000 files or more are read at once: lift the open-file limit to its
// hard value, and return how many files may be open together.
std::size_t RaiseFileLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return 0;
    if (lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
        getrlimit(RLIMIT_NOFILE, &lim);
    }
    constexpr rlim_t kKept = 32; // for standard streams and the C++ library
    if (lim.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    return lim.rlim_cur > kKept ? static_cast<std::size_t>(lim.rlim_cur - kKept) : 0;
}

struct Head {
    std::int64_t timeUs = 0;
    std::int64_t order = 0; // rank, else after every rank
    std::size_t file = 0;
    std::string line;
};

struct Later {
    bool operator()(const Head &a, const Head &b) const {
        if (a.timeUs != b.timeUs) return a.timeUs > b.timeUs;
        if (a.order != b.order) return a.order > b.order;
        return a.file > b.file;
    }
};

} // namespace

std::string DecoratedLine(const Record &r) {
    std::string_view text = r.text;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    const std::string prefix =
        r.rank ? "[" + std::to_string(*r.rank) + "] " : "[pid " + std::to_string(r.pid) + "] ";
    std::string head;
    if (r.kind == "message") {
        std::string word(r.severity);
        for (const SeverityWord &w : kWords)
            if (w.keyword == r.severity) word = w.word;
        if (!word.empty()) {
            // The catalogue's public id, else the number, as the report lines show it.
            std::string shown(r.id);
            if (r.number && shown == std::string(r.subsystem) + "-" + std::to_string(*r.number))
                shown = std::to_string(*r.number);
            head = "** " + word + ": (" + std::string(r.display.empty() ? r.subsystem : r.display) +
                   " - " + shown + ") ";
        }
    }
    std::string out = prefix + head;
    for (std::size_t at = 0;;) {
        const std::size_t nl = text.find('\n', at);
        out.append(
            text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at));
        out += '\n';
        if (nl == std::string_view::npos) break;
        out += prefix;
        at = nl + 1;
    }
    return out;
}

int MergeCommand(const std::vector<std::string> &files, std::ostream &out) {
    Record r;
    std::vector<FileStats> stats;
    if (files.size() > RaiseFileLimit()) {
        // More files than may be open at once: each is read in turn and the
        // lines are ordered in memory, ties kept in file order.
        std::vector<Head> all;
        for (std::size_t i = 0; i < files.size(); ++i) {
            RecordReader reader(files[i], kSmallBlock);
            while (reader.Next(r))
                all.push_back(Head{r.timeUs, r.rank.value_or(INT64_MAX), i, DecoratedLine(r)});
            stats.push_back(reader.stats());
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const Head &a, const Head &b) { return Later()(b, a); });
        for (const Head &h : all)
            out << h.line;
        out.flush();
        return ReportStats(stats) ? 0 : 1;
    }
    std::vector<std::unique_ptr<RecordReader>> readers;
    std::priority_queue<Head, std::vector<Head>, Later> heads;
    auto advance = [&](std::size_t i) {
        if (!readers[i]->Next(r)) return;
        heads.push(Head{r.timeUs, r.rank.value_or(INT64_MAX), i, DecoratedLine(r)});
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        readers.push_back(std::make_unique<RecordReader>(files[i], kSmallBlock));
        advance(i);
    }
    while (!heads.empty()) {
        const std::size_t i = heads.top().file;
        out << heads.top().line;
        heads.pop();
        advance(i);
    }
    out.flush();
    for (const auto &reader : readers)
        stats.push_back(reader->stats());
    return ReportStats(stats) ? 0 : 1;
}

} // namespace errm_report
