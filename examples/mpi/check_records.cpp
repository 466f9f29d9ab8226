// check_records.cpp - reads the record files of a parallel run with a general
// JSON parser, independently of errm-report: every line must be complete
// (ended by a line feed, at most 65,536 bytes), one JSON object with the
// record's fields in their types, and carry the rank its file name gives
// (run.<rank>.json) in a launch of 8. Prints one line per id: id,
// occurrences, ranks. With --summary FILE it also checks that errm-report's
// summary --json lists each id once with that count and rank set.
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

// What is wrong with a record, or "" when nothing is. Every record has the
// fields that place it (time, process, rank) and say what it is; a message's
// record also its number, format, arguments, count and channels.
std::string Problem(const json &r, std::int64_t rank) {
    if (!r.is_object()) return "not an object";
    using T = json::value_t;
    const std::pair<const char *, T> common[] = {
        {"time", T::string}, {"host", T::string},     {"pid", T::number_unsigned},
        {"run", T::string},  {"kind", T::string},     {"subsystem", T::string},
        {"id", T::string},   {"severity", T::string}, {"text", T::string},
    };
    const std::pair<const char *, T> message[] = {
        {"display", T::string},
        {"number", T::number_integer},
        {"severity_number", T::number_unsigned},
        {"template", T::string},
        {"args", T::array},
        {"count", T::number_unsigned},
        {"channels", T::array},
    };
    auto check = [&](const auto &fields) -> std::string {
        for (const auto &[name, type] : fields) {
            const bool ok =
                r.contains(name) && (r[name].type() == type ||
                                     (type == T::number_integer && r[name].is_number_integer()));
            if (!ok) return std::string("field ") + name;
        }
        return "";
    };
    if (std::string p = check(common); !p.empty()) return p;
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
    if (!std::regex_match(r["time"].get<std::string>(), time)) return "time " + r["time"].dump();
    static const std::set<std::string> kinds = {"message", "notice", "user", "direct"};
    if (!kinds.count(r["kind"].get<std::string>())) return "kind " + r["kind"].dump();
    if (r.value("rank", json()) != rank) return "rank " + r.value("rank", json()).dump();
    if (r.value("size", json()) != 8) return "size " + r.value("size", json()).dump();
    if (!r.contains("thread")) return "field thread";
    return r["kind"] == "message" ? check(message) : "";
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
