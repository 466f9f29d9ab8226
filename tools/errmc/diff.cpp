// diff.cpp - catalogue comparison: field rules (which change breaks a
// caller), the merge over both directories, then the command and its text and
// JSON reports.
#include "diff.h"

#include "escape.h"
#include "fields.h"
#include "input.h"
#include "json_text.h"

#include <algorithm>
#include <unordered_map>

namespace errmc {

namespace {

using errmdesc::Message;

std::string Severity(const Message &m) {
    return Keyword(errmdesc::kSeverityNames, m.severity);
}

std::string Channels(const Message &m) {
    std::string out;
    for (std::uint8_t r : m.reports)
        out += (out.empty() ? "" : " ") + Keyword(errmdesc::kChannelNames, r);
    return out;
}

// A field compared as text; `breaking` says whether callers notice it.
struct FieldRule {
    const char *kind;
    bool breaking;
    std::string (*value)(const Message &);
};

// Every entry field besides the number, name and parameters. A return code
// is what ERRM_ProcessError hands back to the caller, so it breaks callers
// that test it; the rest changes only what is printed.
const FieldRule kFieldRules[] = {
    {"format", false, [](const Message &m) { return m.format; }},
    {"severity", false, Severity},
    {"channels", false, Channels},
    {"see", false, [](const Message &m) { return m.see; }},
    {"id", false, [](const Message &m) { return m.id; }},
    {"env", false, [](const Message &m) { return m.env; }},
    {"date", false,
     [](const Message &m) {
         return Keyword(errmdesc::kDateKindNames, m.dateKind);
     }},
    {"force-display", false, [](const Message &m) { return std::to_string(m.force); }},
    {"cat", false, [](const Message &m) { return m.cat; }},
    {"command", false, [](const Message &m) { return m.command; }},
    {"rc", true, [](const Message &m) { return std::to_string(m.rc); }},
    {"comment", false, [](const Message &m) { return m.second; }},
};

std::string Quoted(const std::string &s) { return CQuoted(s); }

void CompareMessages(const Message &a, const Message &b, const DiffOptions &options,
                     std::vector<Change> &out) {
    auto add = [&](std::string kind, bool breaking, std::string before, std::string after,
                   std::string detail) {
        out.push_back({b.number, b.name, std::move(kind), breaking, std::move(before),
                       std::move(after), std::move(detail)});
    };
    if (a.name != b.name)
        add("name", options.headers, a.name, b.name,
            "renamed from " + a.name + (options.headers ? " (the generated names change)" : ""));
    const std::vector<Parameter> pa = FormatParameters(a.format), pb = FormatParameters(b.format);
    for (std::size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const std::string n = "parameter " + std::to_string(i + 1);
        if (i >= pa.size())
            add("parameter-added", true, "", pb[i].ctype, n + " added: " + pb[i].ctype);
        else if (i >= pb.size())
            add("parameter-removed", true, pa[i].ctype, "", n + " removed: " + pa[i].ctype);
        else if (pa[i].ctype != pb[i].ctype)
            add("parameter-type", true, pa[i].ctype, pb[i].ctype,
                n + " is " + pb[i].ctype + ", was " + pa[i].ctype);
    }
    for (const FieldRule &rule : kFieldRules) {
        const std::string before = rule.value(a), after = rule.value(b);
        if (before != after)
            add(rule.kind, rule.breaking, before, after,
                std::string(rule.kind) + " " + Quoted(after) + ", was " + Quoted(before));
    }
}

void CompareHeaders(const errmdesc::Catalogue &a, const errmdesc::Catalogue &b,
                    std::vector<Change> &out) {
    auto add = [&](const char *kind, bool breaking, const std::string &before,
                   const std::string &after, std::string why) {
        if (before != after)
            out.push_back({std::nullopt, "", kind, breaking, before, after,
                           std::string(kind) + " " + Quoted(after) + ", was " + Quoted(before) +
                               why});
    };
    add("subsystem", true, a.subsystem, b.subsystem,
        " (callers load the catalogue by this name)");
    add("display-name", false, a.displayName, b.displayName, "");
    add("version", false, Version(a.version), Version(b.version),
        VersionLower(b.version, a.version) ? " (lower than the old version)" : "");
    add("stamp", false, a.stamp, b.stamp, "");
}

} // namespace

std::vector<Change> DiffCatalogues(const errmdesc::Catalogue &before,
                                   const errmdesc::Catalogue &after, DiffOptions options) {
    std::vector<Change> out;
    CompareHeaders(before, after, out);
    const std::vector<Message> &a = before.messages, &b = after.messages;

    // Numbers present on one side only, by name: a name that leaves one
    // number and arrives at another is a renumbered message.
    std::vector<bool> onlyA(a.size()), onlyB(b.size());
    for (std::size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        if (j == b.size() || (i < a.size() && a[i].number < b[j].number)) onlyA[i++] = true;
        else if (i == a.size() || b[j].number < a[i].number) onlyB[j++] = true;
        else ++i, ++j;
    }
    std::unordered_map<std::string, std::size_t> arrived; // name -> index in b
    for (std::size_t j = 0; j < b.size(); ++j)
        if (onlyB[j]) arrived.emplace(b[j].name, j);
    std::vector<bool> renumberTarget(b.size());

    for (std::size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        if (j == b.size() || (i < a.size() && a[i].number < b[j].number)) {
            const Message &m = a[i++];
            const auto to = arrived.find(m.name);
            if (to != arrived.end() && !renumberTarget[to->second]) {
                renumberTarget[to->second] = true;
                const std::string n = std::to_string(b[to->second].number);
                out.push_back({m.number, m.name, "renumbered", true, std::to_string(m.number), n,
                               "renumbered to " + n});
            } else {
                out.push_back({m.number, m.name, "removed", true, "", "", "removed"});
            }
        } else if (i == a.size() || b[j].number < a[i].number) {
            ++j; // added messages are listed after the merge, unless renumbered
        } else {
            CompareMessages(a[i++], b[j++], options, out);
        }
    }
    for (std::size_t j = 0; j < b.size(); ++j)
        if (onlyB[j] && !renumberTarget[j])
            out.push_back({b[j].number, b[j].name, "added", false, "", "", "added"});
    std::stable_sort(out.begin(), out.end(), [](const Change &x, const Change &y) {
        if (x.number.has_value() != y.number.has_value()) return !x.number.has_value();
        return x.number.has_value() && *x.number < *y.number;
    });
    return out;
}

int DiffCommand(const std::string &oldPath, const std::string &newPath, bool json,
                DiffOptions options, Streams io) {
    const std::optional<InputCatalogue> a = ReadAnyCatalogue(oldPath, io);
    const std::optional<InputCatalogue> b = ReadAnyCatalogue(newPath, io);
    if (!a || !b) return kExitFailed;
    // Most often the two inputs given in the wrong order.
    if (VersionLower(b->cat.version, a->cat.version))
        io.Warning(ShownName(newPath) + ": version " + Version(b->cat.version) +
                   " is lower than the old version " + Version(a->cat.version));
    const std::vector<Change> changes = DiffCatalogues(a->cat, b->cat, options);
    std::size_t breaking = 0;
    for (const Change &c : changes)
        breaking += c.breaking;

    if (json) {
        Json doc = Json::object();
        doc["old"] = oldPath;
        doc["new"] = newPath;
        doc["breaking"] = breaking > 0;
        doc["breaking_changes"] = breaking;
        doc["other_changes"] = changes.size() - breaking;
        Json list = Json::array();
        for (const Change &c : changes) {
            Json j = Json::object();
            j["number"] = c.number ? Json(*c.number) : Json(nullptr);
            j["name"] = c.number ? Json(c.name) : Json(nullptr);
            j["kind"] = c.kind;
            j["breaking"] = c.breaking;
            j["old"] = c.before;
            j["new"] = c.after;
            j["detail"] = c.detail;
            list.push_back(std::move(j));
        }
        doc["changes"] = list;
        io.out << JsonText(doc);
    } else {
        std::string text;
        for (const Change &c : changes) {
            text += c.number ? "message " + std::to_string(*c.number) + " " + c.name + ": "
                             : std::string("catalogue: ");
            text += c.detail + (c.breaking ? " [breaking]\n" : "\n");
        }
        const std::size_t other = changes.size() - breaking;
        text += std::to_string(breaking) + (breaking == 1 ? " breaking change, " : " breaking changes, ") +
                std::to_string(other) + (other == 1 ? " other change\n" : " other changes\n");
        io.out << text;
    }
    return breaking > 0 ? kExitFailed : kExitOk;
}

} // namespace errmc
