// check_records.cpp - reads the record files of a parallel run with a general
// JSON parser, independently of errm-report: every line must be complete
// (ended by a line feed, at most 65,536 bytes), one JSON object with the
// record's fields in their types, and carry the rank its file name gives
// (run.<rank>.json). Prints one line per id: id, occurrences, ranks. With
// --summary FILE it also checks that errm-report's summary --json lists each
// id once with that count and rank set.
//
// Usage: check_records [--summary SUMMARY.json] FILE...
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using nlohmann::json;

struct Tally {
    std::uint64_t count = 0;
    std::set<std::int64_t> ranks;
};

std::string Ranks(const std::set<std::int64_t> &ranks) {
    std::string out;
    for (auto it = ranks.begin(); it != ranks.end();) {
        auto end = it;
        while (std::next(end) != ranks.end() && *std::next(end) == *end + 1)
            ++end;
        out += (out.empty() ? "" : ",") + std::to_string(*it) +
               (end != it ? "-" + std::to_string(*end) : "");
        it = std::next(end);
    }
    return out;
}

// What is wrong with a record, or "" when nothing is.
std::string Problem(const json &r, std::int64_t rank) {
    if (!r.is_object()) return "not an object";
    const std::pair<const char *, json::value_t> fields[] = {
        {"time", json::value_t::string},         {"host", json::value_t::string},
        {"pid", json::value_t::number_unsigned}, {"run", json::value_t::string},
        {"kind", json::value_t::string},         {"subsystem", json::value_t::string},
        {"display", json::value_t::string},      {"id", json::value_t::string},
        {"severity", json::value_t::string},     {"text", json::value_t::string},
        {"template", json::value_t::string},     {"args", json::value_t::array},
        {"channels", json::value_t::array},
    };
    for (const auto &[name, type] : fields)
        if (!r.contains(name) || r[name].type() != type) return std::string("field ") + name;
    for (const char *name : {"number", "severity_number", "count", "thread"})
        if (!r.contains(name) || !r[name].is_number_integer()) return std::string("field ") + name;
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
    if (!std::regex_match(r["time"].get<std::string>(), time)) return "time " + r["time"].dump();
    static const std::set<std::string> kinds = {"message", "notice", "user", "direct"};
    if (!kinds.count(r["kind"].get<std::string>())) return "kind " + r["kind"].dump();
    if (r.value("rank", json()) != rank) return "rank " + r.value("rank", json()).dump();
    if (!r.contains("size") || !r["size"].is_number_integer()) return "field size";
    return "";
}

} // namespace

int main(int argc, char **argv) {
    std::string summaryPath;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--summary" && i + 1 < argc)
            summaryPath = argv[++i];
        else
            files.push_back(arg);
    }
    bool ok = true;
    auto fail = [&](const std::string &what) {
        std::cerr << "check_records: " << what << "\n";
        ok = false;
    };
    std::map<std::string, Tally> tally;
    static const std::regex name(R"((?:.*/)?[^/]*\.(\d+)\.json)");
    for (const std::string &path : files) {
        std::smatch m;
        if (!std::regex_match(path, m, name)) {
            fail(path + ": not named <root>.<rank>.json");
            continue;
        }
        const std::int64_t rank = std::stoll(m[1]);
        std::ifstream in(path, std::ios::binary);
        std::stringstream buf;
        buf << in.rdbuf();
        const std::string text = buf.str();
        if (text.empty() || text.back() != '\n') fail(path + ": empty, or its last line is cut");
        std::istringstream lines(text);
        std::string line;
        for (std::size_t n = 1; std::getline(lines, line); ++n) {
            const std::string where = path + ":" + std::to_string(n) + ": ";
            if (line.size() > 65536) fail(where + "longer than 65,536 bytes");
            json r;
            try {
                r = json::parse(line);
            } catch (const json::exception &e) {
                fail(where + e.what());
                continue;
            }
            if (const std::string p = Problem(r, rank); !p.empty()) {
                fail(where + p);
                continue;
            }
            if (r["kind"] == "notice") continue;
            Tally &t = tally[r["id"].get<std::string>()];
            ++t.count;
            t.ranks.insert(rank);
        }
    }
    for (const auto &[id, t] : tally)
        std::cout << id << " " << t.count << " " << Ranks(t.ranks) << "\n";

    if (!summaryPath.empty()) {
        std::ifstream in(summaryPath);
        json summary;
        try {
            summary = json::parse(in);
        } catch (const json::exception &e) {
            fail(summaryPath + ": " + e.what());
            return 1;
        }
        std::set<std::string> seen;
        for (const json &row : summary.at("messages")) {
            const std::string id = row.at("id");
            if (!seen.insert(id).second) fail("summary: " + id + " listed twice");
            const auto it = tally.find(id);
            if (it == tally.end()) {
                fail("summary: " + id + " is in no record");
                continue;
            }
            if (row.at("count") != it->second.count || row.at("ranks") != Ranks(it->second.ranks))
                fail("summary: " + id + " " + row.at("count").dump() + " " +
                     row.at("ranks").dump() + ", the records say " +
                     std::to_string(it->second.count) + " " + Ranks(it->second.ranks));
        }
        for (const auto &entry : tally)
            if (!seen.count(entry.first)) fail("summary: " + entry.first + " is missing");
    }
    return ok ? 0 : 1;
}
