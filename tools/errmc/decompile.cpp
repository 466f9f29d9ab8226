// decompile.cpp - descriptor to source: message names, the TOML text, then
// the check that compiling the text gives the same messages back.
#include "decompile.h"

#include "escape.h"
#include "fields.h"
#include "names.h"
#include "source.h"
#include "version.h"

#include <sstream>

namespace errmc {

namespace {

using errmdesc::Catalogue;
using errmdesc::Message;

std::string Label(const Message &m) {
    return "message " + std::to_string(m.number);
}

// Keeps the stored names that are C identifiers and do not clash, in
// directory order; derives a unique identifier for every other message.
std::vector<std::string> AssignNames(const Catalogue &cat, std::vector<std::string> &notes) {
    NameRegistry registry;
    std::vector<std::string> names(cat.messages.size());
    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        const std::string &stored = cat.messages[i].name;
        if (IsCIdentifier(stored) && stored.size() <= errmdesc::kMaxEntryName &&
            !registry.Conflict(stored)) {
            registry.Add(stored);
            names[i] = stored;
        }
    }
    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        if (!names[i].empty()) continue;
        const Message &m = cat.messages[i];
        std::string base = ToIdentifier(m.name).substr(0, 1000);
        if (base.empty()) {
            const std::int64_t n = m.number;
            base = n < 0 ? "MESSAGE_M" : "MESSAGE_";
            base += std::to_string(n < 0 ? -n : n);
        }
        std::string name = base;
        for (int n = 2; registry.Conflict(name); ++n)
            name = base + "_" + std::to_string(n);
        registry.Add(name);
        names[i] = name;
        bool lossy = false;
        notes.push_back(Label(m) + ": the stored name " + TomlQuoted(m.name, &lossy) +
                        (IsCIdentifier(m.name) ? " clashes with another message's name"
                                               : " is not a C identifier") +
                        "; it is named '" + name + "'");
    }
    return names;
}

void DroppedFields(const Catalogue &cat, std::vector<std::string> &notes) {
    if (cat.reserved)
        notes.push_back("the header's reserved word " + std::to_string(cat.reserved) +
                        " is not kept");
    if (cat.version[3])
        notes.push_back("the fourth version byte " + std::to_string(cat.version[3]) +
                        " is not kept");
    for (const Message &m : cat.messages) {
        if (m.spareWord || m.spareByte || m.dirSpare)
            notes.push_back(Label(m) + ": its spare fields are not kept");
        if (m.force > 1)
            notes.push_back(Label(m) + ": force-display byte " + std::to_string(m.force) +
                            " means clear and is written as false");
    }
}

// The text after a prefix that the library skips unread.
std::string AfterPrefix(const std::string &text, std::string_view prefix, const Message &m,
                        const char *key, std::vector<std::string> &problems) {
    if (text.compare(0, prefix.size(), prefix) != 0)
        problems.push_back(Label(m) + ": the stored " + key + " text does not start with \"" +
                           std::string(prefix) + "\"");
    return text.size() > prefix.size() ? text.substr(prefix.size()) : std::string();
}

std::string SourceText(const Catalogue &cat, const std::vector<std::string> &names,
                       const std::string &fromName, std::vector<std::string> &problems) {
    bool lossy = false;
    auto q = [&](const std::string &s) { return TomlQuoted(s, &lossy); };
    std::ostringstream t;
    t << "# Catalogue source decompiled by " << Writer() << " from " << q(fromName) << ".\n";
    t << "subsystem = " << q(cat.subsystem) << '\n';
    if (!cat.displayName.empty()) t << "display_name = " << q(cat.displayName) << '\n';
    t << "version = \"" << int{cat.version[0]} << '.' << int{cat.version[1]} << '.'
      << int{cat.version[2]} << "\"\n";
    t << "stamp = " << q(cat.stamp) << '\n';
    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        const Message &m = cat.messages[i];
        t << "\n[[message]]\n";
        t << "number = " << m.number << '\n';
        t << "name = " << q(names[i]) << '\n';
        t << "severity = \"" << Keyword(errmdesc::kSeverityNames, m.severity) << "\"\n";
        if (!m.format.empty()) t << "format = " << q(m.format) << '\n';
        if (!m.id.empty()) t << "id = " << q(m.id) << '\n';
        if (!m.reports.empty()) {
            t << "reports = [";
            for (std::size_t r = 0; r < m.reports.size(); ++r)
                t << (r ? ", " : "") << '"' << Keyword(errmdesc::kChannelNames, m.reports[r])
                  << '"';
            t << "]\n";
        }
        if (m.force == 1) t << "force_display = true\n";
        if (m.dateKind != 0)
            t << "date = \"" << Keyword(errmdesc::kDateKindNames, m.dateKind) << "\"\n";
        if (!m.env.empty()) t << "env = " << q(m.env) << '\n';
        if (!m.see.empty()) t << "see = " << q(m.see) << '\n';
        if (!m.cat.empty())
            t << "cat_file = " << q(AfterPrefix(m.cat, errmdesc::kCatPrefix, m, "cat", problems))
              << '\n';
        if (!m.command.empty())
            t << "command = "
              << q(AfterPrefix(m.command, errmdesc::kCommandPrefix, m, "command", problems))
              << '\n';
        if (m.rc != 0) t << "rc = " << m.rc << '\n';
        if (!m.second.empty()) t << "comment = " << q(m.second) << '\n';
    }
    if (lossy)
        problems.push_back("some texts are not valid UTF-8, which TOML cannot hold; their "
                           "invalid bytes were written as U+FFFD");
    return t.str();
}

// What the descriptor compiled from the source must hold, message for message.
Catalogue Expected(const Catalogue &cat, const std::vector<std::string> &names) {
    Catalogue e = cat;
    e.reserved = 0;
    e.version[3] = 0;
    for (std::size_t i = 0; i < e.messages.size(); ++i) {
        Message &m = e.messages[i];
        m.name = names[i];
        m.spareWord = 0;
        m.spareByte = 0;
        m.dirSpare = 0;
        m.force = m.force == 1 ? 1 : 0;
    }
    return e;
}

void Compare(const Catalogue &want, const Catalogue &got, std::vector<std::string> &problems) {
    auto differs = [&](const std::string &what) {
        problems.push_back("compiling the source would change " + what);
    };
    if (want.subsystem != got.subsystem) differs("the subsystem name");
    if (want.displayName != got.displayName) differs("the display name");
    if (want.version != got.version) differs("the version");
    if (want.stamp != got.stamp) differs("the stamp");
    if (want.messages.size() != got.messages.size()) {
        differs("the number of messages");
        return;
    }
    for (std::size_t i = 0; i < want.messages.size(); ++i) {
        const Message &a = want.messages[i];
        const Message &b = got.messages[i];
        const std::string l = Label(a) + "'s ";
        if (a.number != b.number) differs(l + "number");
        if (a.name != b.name) differs(l + "name");
        if (a.id != b.id) differs(l + "identifier");
        if (a.severity != b.severity) differs(l + "severity");
        if (a.env != b.env) differs(l + "environment name");
        if (a.format != b.format) differs(l + "format");
        if (a.second != b.second) differs(l + "comment");
        if (a.force != b.force) differs(l + "force-display flag");
        if (a.reports != b.reports) differs(l + "report channels");
        if (a.see != b.see) differs(l + "see text");
        if (a.dateKind != b.dateKind) differs(l + "date-stamp kind");
        if (a.cat != b.cat) differs(l + "cat text");
        if (a.command != b.command) differs(l + "command text");
        if (a.rc != b.rc) differs(l + "return code");
    }
}

} // namespace

Decompiled Decompile(const Catalogue &cat, const std::string &fromName) {
    Decompiled out;
    const std::vector<std::string> names = AssignNames(cat, out.notes);
    DroppedFields(cat, out.notes);
    out.text = SourceText(cat, names, fromName, out.problems);

    Diagnostics diags;
    const std::optional<Source> back = ParseSource(out.text, "decompiled source", diags);
    for (const Diagnostic &d : diags.All())
        if (d.kind == Diagnostic::Kind::Error)
            out.problems.push_back("the source does not compile: line " +
                                   std::to_string(d.at.line) + ":" + std::to_string(d.at.column) +
                                   ": " + d.message);
    if (back) Compare(Expected(cat, names), back->cat, out.problems);
    return out;
}

} // namespace errmc
