// doc.cpp - the message reference: each message described as labelled rows
// of text and code pieces, then the Markdown and HTML renderings, then the
// command.
#include "doc.h"

#include "escape.h"
#include "fields.h"
#include "input.h"
#include "names.h"
#include "output.h"
#include "version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

namespace errmc {

namespace {

// ------------------------------------------------------- the neutral model

struct Piece {
    bool code = false; // shown as code
    std::string text;  // valid UTF-8
};
using Value = std::vector<Piece>;

struct Row {
    std::string label;
    Value value;
};

struct MessageDoc {
    std::string anchor;
    std::string title; // identifier and name
    std::int32_t number = 0;
    std::string identifier;
    std::string name;
    std::string severity;
    std::vector<Row> rows;
    std::string comment; // empty when none
    std::string search;  // what the HTML filter matches: number, id, name, texts
};

struct SubsystemDoc {
    std::string anchor;
    std::string heading;
    std::string summary;
    std::vector<MessageDoc> messages;
};

Piece Text(std::string s) { return {false, ValidUtf8(s)}; }
Piece Code(std::string s) { return {true, ValidUtf8(s)}; }

// A format as its author wrote it in C: control characters and backslashes
// escaped, everything else as it is.
std::string FormatShown(std::string_view format) {
    std::string out;
    for (char c : format) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\%03o", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string AnchorPart(std::string_view text) {
    std::string out;
    for (char c : ToIdentifier(text))
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string NumberPart(std::int32_t n) {
    return n < 0 ? "m" + std::to_string(-static_cast<std::int64_t>(n)) : std::to_string(n);
}

std::string WithoutPrefix(const std::string &text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

MessageDoc DescribeMessage(const errmdesc::Message &m, const std::string &subsystemAnchor) {
    MessageDoc d;
    d.anchor = subsystemAnchor + "-" + NumberPart(m.number);
    d.number = m.number;
    d.identifier = ValidUtf8(m.id.empty() ? std::to_string(m.number) : m.id);
    d.name = ValidUtf8(m.name);
    d.title = d.identifier + " " + d.name;
    d.severity = Keyword(errmdesc::kSeverityNames, m.severity);
    auto row = [&](std::string label, Value v) { d.rows.push_back({std::move(label), std::move(v)}); };

    row("Number", {Text(std::to_string(m.number))});
    if (!m.id.empty()) row("Identifier", {Code(m.id)});
    row("Name", {Code(m.name)});
    row("Severity", {Text(d.severity)});
    Value channels;
    for (std::size_t i = 0; i < m.reports.size(); ++i) {
        if (i) channels.push_back(Text(", "));
        channels.push_back(Text(Keyword(errmdesc::kChannelNames, m.reports[i])));
    }
    if (channels.empty()) channels.push_back(Text("none"));
    row("Channels", channels);
    row("Format", m.format.empty() ? Value{Text("none")} : Value{Code(FormatShown(m.format))});
    Value params;
    bool usable = true;
    const std::vector<Parameter> ps = FormatParameters(m.format, &usable);
    for (std::size_t i = 0; i < ps.size(); ++i) {
        params.push_back(Text((i ? "; " : "") + std::to_string(i + 1) + ". "));
        params.push_back(Code(ps[i].ctype));
        params.push_back(Text(ps[i].star ? " (width or precision of " : " for "));
        params.push_back(Code(ps[i].conversion));
        if (ps[i].star) params.push_back(Text(")"));
    }
    if (!usable) params = {Text("the format is not one a caller can fill (errmc check rejects it)")};
    if (params.empty()) params.push_back(Text("none"));
    row("Parameters", params);
    if (!m.see.empty()) row("See", {Text(m.see)});
    Value actions;
    if (!m.cat.empty()) {
        actions.push_back(Text("copies the file "));
        actions.push_back(Code(WithoutPrefix(m.cat, errmdesc::kCatPrefix)));
        actions.push_back(Text(" onto the reports"));
    }
    if (!m.command.empty()) {
        actions.push_back(Text(actions.empty() ? "runs " : "; runs "));
        actions.push_back(Code(WithoutPrefix(m.command, errmdesc::kCommandPrefix)));
        actions.push_back(Text(" and copies its output onto the reports"));
    }
    if (!actions.empty()) row("Follow-up actions", actions);
    if (!m.env.empty()) row("Environment variable", {Code(m.env)});
    if (m.dateKind != 0)
        row("Date stamp", {Text(Keyword(errmdesc::kDateKindNames, m.dateKind))});
    if (m.force != 0) row("Force display", {Text("yes")});
    row("Return code", {Text(std::to_string(m.rc))});
    d.comment = ValidUtf8(m.second);
    d.search = std::to_string(m.number) + ' ' + d.identifier + ' ' + d.name + ' ' + d.severity +
               ' ' + ValidUtf8(m.format) + ' ' + d.comment;
    for (char &c : d.search)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return d;
}

std::vector<SubsystemDoc> Describe(const std::vector<errmdesc::Catalogue> &cats) {
    std::vector<SubsystemDoc> out;
    std::set<std::string> anchors;
    for (const errmdesc::Catalogue &cat : cats) {
        SubsystemDoc s;
        s.anchor = AnchorPart(cat.subsystem);
        if (s.anchor.empty()) s.anchor = "subsystem";
        // Two catalogues whose names differ only in case or punctuation.
        for (int k = 2; anchors.count(s.anchor); ++k)
            s.anchor = AnchorPart(cat.subsystem) + "-" + std::to_string(k);
        anchors.insert(s.anchor);
        s.heading = "Subsystem " + ValidUtf8(cat.subsystem) +
                    (cat.displayName.empty() ? "" : " — " + ValidUtf8(cat.displayName));
        s.summary = "Version " + Version(cat.version) + ", stamp " +
                    (cat.stamp.empty() ? std::string("(none: given when compiled)")
                                       : "\"" + ValidUtf8(cat.stamp) + "\"") +
                    ", " + std::to_string(cat.messages.size()) +
                    (cat.messages.size() == 1 ? " message." : " messages.");
        for (const errmdesc::Message &m : cat.messages)
            s.messages.push_back(DescribeMessage(m, s.anchor));
        out.push_back(std::move(s));
    }
    return out;
}

// ------------------------------------------------------------- Markdown

// Text in a table cell, a heading or a paragraph: inline Markdown
// punctuation escaped, and in a paragraph what would open a heading, list or
// quote at the start of a line; line breaks kept as <br>.
std::string MdText(std::string_view s, bool paragraph = false) {
    std::string out;
    bool lineStart = paragraph;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\n') {
            out += "<br>";
            lineStart = paragraph;
            continue;
        }
        const bool listNumber = lineStart && std::isdigit(static_cast<unsigned char>(c));
        if (std::strchr("\\`*_[]<>|~&", c) || (lineStart && std::strchr("#-+=", c)))
            out += '\\';
        out += c;
        if (listNumber) {
            while (i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))
                out += s[++i];
            if (i + 1 < s.size() && (s[i + 1] == '.' || s[i + 1] == ')')) out += '\\';
        }
        lineStart = false;
    }
    return out;
}

// A code span: fenced by more backticks than the longest run inside; '|'
// escaped because the span stands in a table.
std::string MdCode(std::string_view s) {
    std::size_t run = 0, longest = 0;
    std::string body;
    for (char c : s) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
        body += c == '|' ? std::string("\\|") : std::string(1, c);
    }
    const std::string fence(longest + 1, '`');
    const bool pad = !body.empty() && (body.front() == '`' || body.back() == '`' ||
                                       body.front() == ' ' || body.back() == ' ');
    return fence + (pad ? " " : "") + body + (pad ? " " : "") + fence;
}

std::string MdValue(const Value &v) {
    std::string out;
    for (const Piece &p : v)
        out += p.code ? MdCode(p.text) : MdText(p.text);
    return out;
}

std::string Markdown(const std::vector<SubsystemDoc> &subs) {
    std::string o = "# Message reference\n\n<!-- Generated by " + Writer() + ": do not edit. -->\n";
    for (const SubsystemDoc &s : subs) {
        o += "\n<a id=\"" + s.anchor + "\"></a>\n\n## " + MdText(s.heading) + "\n\n" +
             MdText(s.summary, true) + "\n";
        if (!s.messages.empty()) {
            o += "\n| Number | Identifier | Name | Severity |\n|---:|---|---|---|\n";
            for (const MessageDoc &m : s.messages)
                o += "| [" + std::to_string(m.number) + "](#" + m.anchor + ") | " +
                     MdText(m.identifier) + " | " + MdCode(m.name) + " | " + m.severity + " |\n";
        }
        for (const MessageDoc &m : s.messages) {
            o += "\n<a id=\"" + m.anchor + "\"></a>\n\n### " + MdText(m.title) + "\n\n";
            o += "| Field | Value |\n|---|---|\n";
            for (const Row &r : m.rows)
                o += "| " + r.label + " | " + MdValue(r.value) + " |\n";
            if (!m.comment.empty()) o += "\n" + MdText(m.comment, true) + "\n";
        }
    }
    return o;
}

// ---------------------------------------------------------------- HTML

std::string Html(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "<br>"; break;
        default: out += c;
        }
    }
    return out;
}

std::string HtmlValue(const Value &v) {
    std::string out;
    for (const Piece &p : v)
        out += p.code ? "<code>" + Html(p.text) + "</code>" : Html(p.text);
    return out;
}

// Contents in a column of their own beside the reference (above it on a
// narrow screen); each entry on one line, cut with an ellipsis when long.
constexpr const char *kStyle =
    "body{font-family:sans-serif;margin:0;line-height:1.4;color:#222;display:grid;"
    "grid-template-columns:minmax(14em,22em) 1fr}\n"
    "nav{position:sticky;top:0;height:100vh;overflow-y:auto;box-sizing:border-box;"
    "padding:1em;border-right:1px solid #ddd;background:#fafafa}\n"
    "nav h2{font-size:1.1em;margin:.2em 0 .5em}\n"
    "nav ul{list-style:none;margin:0;padding:0}\n"
    "nav ul ul{margin:0 0 .8em .8em}\n"
    "nav li{white-space:nowrap;overflow:hidden;text-overflow:ellipsis;font-size:.9em}\n"
    "nav li.subsystem{font-weight:bold}\n"
    "nav li.subsystem li{font-weight:normal}\n"
    "#filter{width:100%;box-sizing:border-box;margin:0 0 .3em;padding:.3em}\n"
    "#matches{font-size:.85em;color:#555;margin:0 0 .6em}\n"
    "main{max-width:60em;padding:0 2em 2em;min-width:0}\n"
    "code{font-family:monospace;background:#f3f3f3;padding:0 .2em;white-space:pre-wrap;"
    "overflow-wrap:anywhere}\n"
    "table{border-collapse:collapse;margin:.5em 0}\n"
    "th,td{border:1px solid #ccc;padding:.2em .6em;text-align:left;vertical-align:top}\n"
    "th{background:#f7f7f7;white-space:nowrap}\n"
    "h3{overflow-wrap:anywhere}\n"
    "section.message{border-top:1px solid #ddd;margin-top:1.5em}\n"
    "footer{color:#777;font-size:.85em;margin-top:2em}\n"
    "[hidden]{display:none!important}\n"
    "@media (max-width:50em){body{display:block}nav{position:static;height:auto;"
    "border-right:none;border-bottom:1px solid #ddd}nav ul ul{columns:16em}}\n";

// The filter: shows the messages (and their contents entries) whose number,
// identifier, name, severity, format or comment holds every word typed (or
// given as ?filter=... in the address). Runs in the page, without network;
// without scripts the box stays hidden.
constexpr const char *kFilterScript =
    "(function(){\n"
    "var box=document.getElementById('filter'),count=document.getElementById('matches');\n"
    "var items=document.querySelectorAll('[data-search]');\n"
    "box.hidden=false;count.hidden=false;\n"
    "function apply(){\n"
    "  var words=box.value.toLowerCase().split(/\\s+/).filter(Boolean),shown=0,total=0;\n"
    "  items.forEach(function(e){\n"
    "    var text=e.getAttribute('data-search');\n"
    "    var ok=words.every(function(w){return text.indexOf(w)>=0;});\n"
    "    e.hidden=!ok;\n"
    "    if(e.tagName==='SECTION'){total++;if(ok)shown++;}\n"
    "  });\n"
    "  count.textContent=words.length?shown+' of '+total+' messages':total+' messages';\n"
    "}\n"
    "var given=new URLSearchParams(location.search).get('filter');\n"
    "if(given)box.value=given;\n"
    "box.addEventListener('input',apply);apply();\n"
    "})();\n";

std::string HtmlPage(const std::vector<SubsystemDoc> &subs) {
    std::string title = "Message reference";
    if (subs.size() == 1) title += ": " + subs[0].heading;
    std::string o = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                    "<meta name=\"generator\" content=\"" + Writer() + "\">\n"
                    "<title>" + Html(title) + "</title>\n<style>\n" + kStyle +
                    "</style>\n</head>\n<body>\n";
    o += "<nav>\n<h2>Contents</h2>\n"
         "<input id=\"filter\" type=\"search\" placeholder=\"Filter: number, id, name or text\" "
         "aria-label=\"Filter the messages\" hidden>\n<p id=\"matches\" hidden></p>\n<ul>\n";
    for (const SubsystemDoc &s : subs) {
        o += "<li class=\"subsystem\" title=\"" + Html(s.heading) + "\"><a href=\"#" + s.anchor +
             "\">" + Html(s.heading) + "</a>\n<ul>\n";
        for (const MessageDoc &m : s.messages)
            o += "<li data-search=\"" + Html(m.search) + "\" title=\"" + Html(m.title) + " (" +
                 m.severity + ")\"><a href=\"#" + m.anchor + "\">" + Html(m.title) + "</a> (" +
                 m.severity + ")</li>\n";
        o += "</ul></li>\n";
    }
    o += "</ul>\n</nav>\n<main>\n<h1>Message reference</h1>\n";
    for (const SubsystemDoc &s : subs) {
        o += "<section class=\"subsystem\" id=\"" + s.anchor + "\">\n<h2>" + Html(s.heading) +
             "</h2>\n<p>" + Html(s.summary) + "</p>\n";
        for (const MessageDoc &m : s.messages) {
            o += "<section class=\"message\" id=\"" + m.anchor + "\" data-search=\"" +
                 Html(m.search) + "\">\n<h3><a href=\"#" + m.anchor + "\">" + Html(m.title) +
                 "</a></h3>\n<table>\n";
            for (const Row &r : m.rows)
                o += "<tr><th>" + Html(r.label) + "</th><td>" + HtmlValue(r.value) + "</td></tr>\n";
            o += "</table>\n";
            if (!m.comment.empty()) o += "<p>" + Html(m.comment) + "</p>\n";
            o += "</section>\n";
        }
        o += "</section>\n";
    }
    o += "<footer>Generated by " + Writer() + ".</footer>\n</main>\n";
    return o + "<script>\n" + kFilterScript + "</script>\n</body>\n</html>\n";
}

} // namespace

std::string GenerateDoc(const std::vector<errmdesc::Catalogue> &cats, DocFormat format) {
    const std::vector<SubsystemDoc> subs = Describe(cats);
    return format == DocFormat::Html ? HtmlPage(subs) : Markdown(subs);
}

int DocCommand(const std::vector<std::string> &inputs, const std::string &outFile,
               const std::string &format, Streams io) {
    if (format != "md" && format != "html") {
        io.Error("unknown format '" + format + "' (expected md or html)");
        return kExitFailed;
    }
    std::vector<errmdesc::Catalogue> cats;
    bool ok = true;
    for (const std::string &path : inputs) {
        std::optional<InputCatalogue> in = ReadAnyCatalogue(path, io);
        if (in)
            cats.push_back(std::move(in->cat));
        else
            ok = false;
    }
    if (!ok) return kExitFailed;
    const std::string text = GenerateDoc(cats, format == "html" ? DocFormat::Html
                                                                 : DocFormat::Markdown);
    return WriteOutput(outFile, text, io) ? kExitOk : kExitFailed;
}

} // namespace errmc
