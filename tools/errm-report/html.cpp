// html.cpp - the run as one self-contained page: the summary table (sorted
// and filtered by its inline script), a timeline of the records per severity
// (inline SVG) and a strip of the ranks coloured by the worst they raised.
// Nothing is fetched: styles, script and drawings are in the page. The
// table is written out in full, so the page reads well without its script.
#include "report.h"
#include "summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace errm_report {

namespace {

std::string Html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// The severity classes the drawings use, most severe first.
struct SeverityClass {
    const char *name; // shown in legends
    const char *css;  // class and colour name
    const char *colour;
    int from; // lowest severity number of the class
};
constexpr std::array<SeverityClass, 5> kClasses = {{
    {"fatal", "fatal", "#7a0010", 21},
    {"error", "error", "#d7263d", 17},
    {"warning", "warning", "#f29e1f", 13},
    {"note", "note", "#2e6fb7", 9},
    {"trace/debug", "debug", "#8a8f98", 0},
}};

std::size_t ClassOf(int severityNumber) {
    for (std::size_t i = 0; i < kClasses.size(); ++i)
        if (severityNumber >= kClasses[i].from) return i;
    return kClasses.size() - 1;
}

std::string Seconds(double s) {
    char buf[32];
    if (s < 10)
        std::snprintf(buf, sizeof buf, "%.3g s", s);
    else
        std::snprintf(buf, sizeof buf, "%.0f s", s);
    return buf;
}

constexpr const char *kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em 2em;color:#1d2330;background:#fbfbfd}
h1{font-size:1.5em;margin:0 0 .2em}h2{font-size:1.15em;margin:1.6em 0 .5em}
.meta{color:#555}.notes{color:#8a4b00;background:#fff4e0;padding:.4em .7em;border-radius:4px}
.filters{margin:.4em 0 .6em;display:flex;flex-wrap:wrap;gap:.4em 1.2em;align-items:center}
.filters label{white-space:nowrap}
table{border-collapse:collapse;width:100%;background:#fff}
th,td{border-bottom:1px solid #e2e4ea;padding:.3em .5em;text-align:left;vertical-align:top}
th{background:#eef0f5;cursor:pointer;user-select:none;position:sticky;top:0}
th[aria-sort=ascending]::after{content:" \25B2"}th[aria-sort=descending]::after{content:" \25BC"}
td.num{text-align:right;font-variant-numeric:tabular-nums}td.id{white-space:nowrap}
td.time{white-space:nowrap;font-family:ui-monospace,monospace;font-size:.85em}
td.text{font-family:ui-monospace,monospace;font-size:.9em;white-space:pre-wrap}
.sev{display:inline-block;padding:0 .4em;border-radius:3px;color:#fff;font-size:.85em}
.sev.fatal{background:#7a0010}.sev.error{background:#d7263d}.sev.warning{background:#f29e1f}
.sev.note{background:#2e6fb7}.sev.debug{background:#8a8f98}
svg text{font:11px system-ui,sans-serif;fill:#333}
.legend span{display:inline-block;margin-right:1em}
.legend i{display:inline-block;width:.9em;height:.9em;margin-right:.3em;vertical-align:-1px}
#status{color:#888;font-size:.8em}
)";

// Sorting by a header click (numbers by their data-sort value), filtering
// by severity and subsystem; the status line tells that the script ran.
constexpr const char *kScript = R"(
(function(){
  var table=document.getElementById('summary');
  var body=table.tBodies[0];
  var heads=table.tHead.rows[0].cells;
  function key(row,i,num){var c=row.cells[i];var v=c.getAttribute('data-sort');
    if(v===null)v=c.textContent;return num?parseFloat(v):v;}
  Array.prototype.forEach.call(heads,function(th,i){
    th.addEventListener('click',function(){
      var num=th.getAttribute('data-type')==='num';
      var asc=th.getAttribute('aria-sort')!=='ascending';
      Array.prototype.forEach.call(heads,function(h){h.removeAttribute('aria-sort');});
      th.setAttribute('aria-sort',asc?'ascending':'descending');
      var rows=Array.prototype.slice.call(body.rows);
      rows.sort(function(a,b){var x=key(a,i,num),y=key(b,i,num);
        var d=num?x-y:String(x).localeCompare(String(y));return asc?d:-d;});
      rows.forEach(function(r){body.appendChild(r);});
    });
  });
  var boxes=document.querySelectorAll('input[data-severity]');
  var subsystem=document.getElementById('subsystem');
  function apply(){
    var on={};Array.prototype.forEach.call(boxes,function(b){on[b.getAttribute('data-severity')]=b.checked;});
    var sub=subsystem.value,shown=0;
    Array.prototype.forEach.call(body.rows,function(r){
      var ok=on[r.getAttribute('data-severity')]!==false&&(sub===''||r.getAttribute('data-subsystem')===sub);
      r.hidden=!ok;if(ok)shown++;});
    document.getElementById('shown').textContent=shown+' of '+body.rows.length+' messages shown';
  }
  Array.prototype.forEach.call(boxes,function(b){b.addEventListener('change',apply);});
  subsystem.addEventListener('change',apply);
  apply();
  var status=document.getElementById('status');
  status.textContent='ready';status.setAttribute('data-state','ready');
})();
)";

void Timeline(const Summary &s, std::ostream &o) {
    constexpr int kWidth = 900, kHeight = 200, kLeft = 50, kBottom = 30, kBins = 60;
    const double span = static_cast<double>(s.endUs - s.startUs);
    std::vector<std::array<std::uint64_t, kClasses.size()>> bins(kBins);
    for (const auto &[us, number] : s.times) {
        const int b =
            span <= 0
                ? 0
                : std::min(kBins - 1,
                           static_cast<int>((static_cast<double>(us - s.startUs)) / span * kBins));
        ++bins[static_cast<std::size_t>(b)][ClassOf(number)];
    }
    std::uint64_t top = 1;
    for (const auto &bin : bins) {
        std::uint64_t total = 0;
        for (std::uint64_t n : bin)
            total += n;
        top = std::max(top, total);
    }
    const int plotW = kWidth - kLeft - 10, plotH = kHeight - kBottom - 10;
    const double barW = static_cast<double>(plotW) / kBins;
    o << "<svg id=\"timeline\" role=\"img\" aria-label=\"records per severity over the run\" "
         "width=\""
      << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight
      << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    o << "<line x1=\"" << kLeft << "\" y1=\"" << 10 + plotH << "\" x2=\"" << kLeft + plotW
      << "\" y2=\"" << 10 + plotH << "\" stroke=\"#999\"/>\n";
    o << "<text x=\"" << kLeft - 6 << "\" y=\"16\" text-anchor=\"end\">" << top << "</text>\n";
    o << "<text x=\"" << kLeft - 6 << "\" y=\"" << 10 + plotH
      << "\" text-anchor=\"end\">0</text>\n";
    for (int b = 0; b < kBins; ++b) {
        double y = 10 + plotH;
        const double x = kLeft + b * barW;
        const double from = span * b / kBins / 1e6, to = span * (b + 1) / kBins / 1e6;
        for (std::size_t c = kClasses.size(); c-- > 0;) {
            const std::uint64_t n = bins[static_cast<std::size_t>(b)][c];
            if (n == 0) continue;
            const double h = static_cast<double>(n) / static_cast<double>(top) * plotH;
            y -= h;
            char rect[160];
            std::snprintf(rect, sizeof rect,
                          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\">",
                          x + 0.5, y, std::max(barW - 1, 0.5), h, kClasses[c].colour);
            o << rect << "<title>" << Seconds(from) << " to " << Seconds(to) << ": " << n << ' '
              << kClasses[c].name << "</title></rect>\n";
        }
    }
    // Fatal messages are few and end runs: each is marked across the plot.
    int marks = 0;
    for (const auto &[us, number] : s.times) {
        if (number < kClasses[0].from || marks++ == 50) continue;
        const double x =
            kLeft + (span <= 0 ? 0.0 : static_cast<double>(us - s.startUs) / span * plotW);
        char line[200];
        std::snprintf(line, sizeof line,
                      "<line class=\"fatal-mark\" x1=\"%.1f\" y1=\"10\" x2=\"%.1f\" y2=\"%d\" "
                      "stroke=\"%s\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\">",
                      x, x, 10 + plotH, kClasses[0].colour);
        o << line << "<title>fatal at +" << Seconds(static_cast<double>(us - s.startUs) / 1e6)
          << "</title></line>\n";
    }
    for (int k = 0; k <= 4; ++k) {
        const double x = kLeft + plotW * k / 4.0;
        o << "<text x=\"" << x << "\" y=\"" << kHeight - 10 << "\" text-anchor=\""
          << (k == 0   ? "start"
              : k == 4 ? "end"
                       : "middle")
          << "\">+" << Seconds(span * k / 4 / 1e6) << "</text>\n";
    }
    o << "</svg>\n<p class=\"legend\">";
    for (const SeverityClass &c : kClasses)
        o << "<span><i style=\"background:" << c.colour << "\"></i>" << c.name << "</span>";
    o << "</p>\n";
}

void RankStrip(const Summary &s, std::ostream &o) {
    if (!s.anyRank) {
        o << "<p>The records carry no rank: they come from processes outside a parallel "
             "launch.</p>\n";
        return;
    }
    // Every rank of the launch, those that wrote nothing included; up to 64
    // ranks, each cell is large enough to carry its number.
    const std::size_t ranks = std::max(s.rankTally.size(), static_cast<std::size_t>(s.worldSize));
    const bool numbered = ranks <= 64;
    const int kCell = numbered ? 26 : 16, kPerRow = numbered ? 32 : 64, kLeft = 50;
    const int rows = static_cast<int>((ranks + kPerRow - 1) / kPerRow);
    const int width = kLeft + kPerRow * kCell + 10, height = rows * kCell + 4;
    o << "<svg id=\"ranks\" role=\"img\" aria-label=\"ranks by the worst severity they raised\" "
         "width=\""
      << width << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << ' ' << height
      << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    for (int r = 0; r < rows; ++r)
        o << "<text x=\"" << kLeft - 6 << "\" y=\"" << r * kCell + kCell / 2 + 4
          << "\" text-anchor=\"end\">" << r * kPerRow << "</text>\n";
    for (std::size_t k = 0; k < ranks; ++k) {
        const RankTally t = k < s.rankTally.size() ? s.rankTally[k] : RankTally{};
        const char *fill = "#e6e8ee", *what = "no record";
        if (t.fatals > 0)
            fill = kClasses[0].colour, what = "fatal";
        else if (t.errors > 0)
            fill = kClasses[1].colour, what = "error";
        else if (t.warnings > 0)
            fill = kClasses[2].colour, what = "warning";
        else if (t.others > 0)
            fill = "#9cc9a0", what = "no error or warning";
        const int x = kLeft + static_cast<int>(k % kPerRow) * kCell;
        const int y = static_cast<int>(k / kPerRow) * kCell + 2;
        o << "<rect class=\"rank\" data-rank=\"" << k << "\" data-worst=\"" << what << "\" x=\""
          << x << "\" y=\"" << y << "\" width=\"" << kCell - 2 << "\" height=\"" << kCell - 2
          << "\" fill=\"" << fill << "\"><title>rank " << k << ": " << what << " (" << t.fatals
          << " fatal, " << t.errors - t.fatals << " error, " << t.warnings << " warning, "
          << t.others << " other)</title></rect>\n";
        if (numbered)
            o << "<text x=\"" << x + (kCell - 2) / 2 << "\" y=\"" << y + kCell / 2 + 2
              << "\" text-anchor=\"middle\" pointer-events=\"none\" style=\"fill:"
              << (t.fatals + t.errors > 0 ? "#fff" : "#222") << "\">" << k << "</text>\n";
    }
    o << "</svg>\n<p class=\"legend\"><span><i style=\"background:" << kClasses[0].colour
      << "\"></i>fatal</span><span><i style=\"background:" << kClasses[1].colour
      << "\"></i>error</span><span><i style=\"background:" << kClasses[2].colour
      << "\"></i>warning</span><span><i style=\"background:#9cc9a0\"></i>no error or "
         "warning</span><span><i style=\"background:#e6e8ee\"></i>no record</span></p>\n";
}

void Table(const Summary &s, const std::string &docLink, std::ostream &o) {
    const std::vector<const Row *> rows = s.Sorted();
    std::map<std::string, std::pair<int, std::uint64_t>> severities; // keyword -> number, rows
    std::set<std::string> subsystems;
    for (const Row *r : rows) {
        auto &sev = severities[r->severity];
        sev.first = r->severityNumber;
        ++sev.second;
        subsystems.insert(r->subsystem);
    }
    std::vector<std::pair<std::string, std::pair<int, std::uint64_t>>> bySeverity(
        severities.begin(), severities.end());
    std::stable_sort(bySeverity.begin(), bySeverity.end(),
                     [](const auto &a, const auto &b) { return a.second.first > b.second.first; });
    o << "<div class=\"filters\"><span>Severity:";
    for (const auto &[keyword, info] : bySeverity)
        o << " <label><input type=\"checkbox\" checked data-severity=\"" << Html(keyword) << "\"> "
          << Html(keyword) << " (" << info.second << ")</label>";
    o << "</span><label>Subsystem: <select id=\"subsystem\"><option value=\"\">all</option>";
    for (const std::string &sub : subsystems)
        o << "<option value=\"" << Html(sub) << "\">" << Html(sub) << "</option>";
    o << "</select></label><span id=\"shown\"></span></div>\n";
    o << "<table id=\"summary\"><thead><tr><th data-type=\"num\">Severity</th><th>Id</th>"
         "<th>Subsystem</th><th data-type=\"num\">Count</th><th data-type=\"num\">Ranks</th>"
         "<th>First</th><th>Last</th><th>Text of the first</th></tr></thead>\n<tbody>\n";
    for (const Row *r : rows) {
        const std::vector<std::int64_t> ranks = r->ranks.Ranks();
        const std::string id = Html(r->id);
        std::string idCell = id;
        if (!docLink.empty() && r->message && r->hasNumber)
            idCell = "<a href=\"" + Html(docLink) + "#" + DocAnchor(r->subsystem, r->number) +
                     "\">" + id + "</a>";
        o << "<tr data-id=\"" << id << "\" data-severity=\"" << Html(r->severity)
          << "\" data-subsystem=\"" << Html(r->subsystem) << "\"><td data-sort=\""
          << r->severityNumber << "\"><span class=\"sev "
          << kClasses[ClassOf(r->severityNumber)].css << "\">" << Html(r->severity)
          << "</span></td><td class=\"id\">" << idCell << "</td><td>"
          << Html(r->display.empty() ? r->subsystem : r->display) << "</td><td class=\"num\">"
          << r->count << "</td><td data-sort=\"" << ranks.size() << "\">"
          << Html(CompressRanks(ranks)) << "</td><td class=\"time\">" << Html(r->first)
          << "</td><td class=\"time\">" << Html(r->last) << "</td><td class=\"text\">"
          << Html(r->text) << "</td></tr>\n";
    }
    o << "</tbody></table>\n";
}

} // namespace

std::string DocAnchor(std::string_view subsystem, std::int64_t number) {
    // As errmc doc names them: the subsystem code as a lower-case C
    // identifier, a dash, the number ("m" before a negative one's digits).
    std::string out;
    for (std::size_t i = 0; i < subsystem.size(); ++i) {
        const char c = subsystem[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool ok = letter || (i > 0 && c >= '0' && c <= '9');
        out += ok ? static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) : '_';
    }
    if (out.empty()) out = "subsystem";
    return out + "-" + (number < 0 ? "m" + std::to_string(-number) : std::to_string(number));
}

int HtmlCommand(const std::vector<std::string> &files, const std::string &output,
                const std::string &docLink) {
    Summary s;
    s.keepTimes = true;
    const std::vector<FileStats> stats = Summarise(files, s);
    const bool clean = ReportStats(stats);

    std::ostringstream o;
    const std::string title = s.runs.size() == 1 ? "Run " + s.runs[0] : "Run summary";
    o << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>"
      << Html(title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
      << "<h1>" << Html(title) << "</h1>\n<p class=\"meta\">" << s.records << " records";
    if (s.notices > 0) o << " (" << s.notices << " repetition notices)";
    o << " from " << stats.size() << (stats.size() == 1 ? " file" : " files");
    if (s.records > 0)
        o << ", " << Html(FormatTime(s.startUs)) << " to " << Html(FormatTime(s.endUs)) << " ("
          << Seconds(static_cast<double>(s.endUs - s.startUs) / 1e6) << ")";
    if (s.runs.size() > 1) {
        // Processes started without a common run name each have their own.
        o << "; " << s.runs.size() << " run names";
        for (std::size_t k = 0; k < s.runs.size() && k < 3; ++k)
            o << (k ? ", " : " (") << Html(s.runs[k]);
        o << (s.runs.size() > 3 ? ", ...)" : ")");
    }
    o << "</p>\n";
    std::uint64_t invalid = 0, cut = 0, unreadable = 0;
    for (const FileStats &f : stats) {
        invalid += f.invalid;
        cut += f.cut ? 1 : 0;
        unreadable += f.readable ? 0 : 1;
    }
    if (invalid + cut + unreadable > 0) {
        o << "<p class=\"notes\">";
        if (cut > 0)
            o << cut
              << " file(s) end with a line cut by a process that died while writing it "
                 "(ignored). ";
        if (invalid > 0) o << invalid << " line(s) are not records (ignored). ";
        if (unreadable > 0) o << unreadable << " file(s) could not be read.";
        o << "</p>\n";
    }
    o << "<h2>Messages</h2>\n";
    Table(s, docLink, o);
    o << "<h2>Timeline</h2>\n";
    Timeline(s, o);
    o << "<h2>Ranks</h2>\n";
    RankStrip(s, o);
    o << "<p id=\"status\" data-state=\"static\">the page's script did not run</p>\n<script>"
      << kScript << "</script>\n</body>\n</html>\n";

    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << o.str();
    file.close();
    if (!file) {
        std::cerr << "errm-report: cannot write " << output << "\n";
        return 1;
    }
    return clean ? 0 : 1;
}

} // namespace errm_report
