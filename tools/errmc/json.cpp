// json.cpp - the JSON documents of check, info and dump: shared field
// builders, then the three commands.
#include "json.h"
#include "fields.h"

#include "input.h"
#include "json_text.h"
#include "python.h"
#include "source.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace errmc {

namespace {

Json SourceDiagnostics(const Diagnostics &diags, const std::string &file) {
    Json list = Json::array();
    for (const Diagnostic *d : diags.Sorted())
        list.push_back(DiagnosticJson(file, d->kind, d->at, d->message));
    return list;
}

Json FileError(const std::string &file, const std::string &message) {
    return DiagnosticJson(file, Diagnostic::Kind::Error, Position{}, message);
}

Json MessageJson(const errmdesc::Message &m, std::uint32_t entryOffset) {
    Json j = Json::object();
    j["number"] = m.number;
    j["entry_offset"] = entryOffset;
    j["name"] = m.name;
    j["severity"] = Keyword(errmdesc::kSeverityNames, m.severity);
    j["severity_code"] = m.severity;
    j["id"] = m.id;
    j["format"] = m.format;
    Json params = Json::array();
    for (const Parameter &p : FormatParameters(m.format))
        params.push_back(p.ctype);
    j["parameters"] = params;
    j["args"] = PythonArgsJson(m.format);
    Json reports = Json::array(), codes = Json::array();
    for (std::uint8_t r : m.reports) {
        reports.push_back(Keyword(errmdesc::kChannelNames, r));
        codes.push_back(r);
    }
    j["reports"] = reports;
    j["report_codes"] = codes;
    j["force_display"] = m.force;
    j["date"] = Keyword(errmdesc::kDateKindNames, m.dateKind);
    j["env"] = m.env;
    j["see"] = m.see;
    j["cat"] = m.cat;
    j["command"] = m.command;
    j["rc"] = m.rc;
    j["comment"] = m.second;
    return j;
}

} // namespace

int CheckJsonCommand(const std::string &source, Streams io) {
    Diagnostics diags(io.Werror());
    std::optional<Source> src = ParseSourceFile(source, diags);
    if (diags.FileUnreadable()) io.MarkUnusable();
    Json extra = Json::array(); // problems found after the source checks
    if (src && !src->stampGiven) {
        std::string why;
        if (!DefaultStamp(std::getenv("SOURCE_DATE_EPOCH"), std::time(nullptr), &why))
            extra.push_back(FileError(source, why));
    }
    if (src)
        for (const std::string &p : errmdesc::Validate(src->cat))
            extra.push_back(
                FileError(source, "internal: the catalogue is not a valid descriptor: " + p));
    const bool ok = src && extra.empty();
    Json doc = Json::object();
    doc["file"] = ShownName(source);
    doc["ok"] = ok;
    doc["subsystem"] = src ? Json(src->cat.subsystem) : Json(nullptr);
    doc["messages"] = src ? Json(src->cat.messages.size()) : Json(nullptr);
    Json list = SourceDiagnostics(diags, ShownName(source));
    for (Json &e : extra)
        list.push_back(std::move(e));
    doc["diagnostics"] = list;
    io.out << JsonText(doc);
    return ok ? kExitOk : kExitFailed;
}

int InfoJsonCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    std::string why;
    bool unreadable = false;
    const bool ok = DecodeDescriptorFile(descriptor, &cat, &info, &why, &unreadable);
    if (unreadable) io.MarkUnusable();
    const bool header = info.fileSize >= errmdesc::kHeaderSize;
    auto field = [&](bool known, Json value) { return known ? value : Json(nullptr); };
    char magic[16];
    std::snprintf(magic, sizeof magic, "0x%08X", info.magic);
    Json doc = Json::object();
    doc["file"] = ShownName(descriptor);
    doc["size"] = info.fileSize;
    doc["magic"] = field(header, magic);
    doc["magic_ok"] = header && info.magic == errmdesc::kMagic;
    doc["version"] = field(header, Version(cat.version));
    doc["version_fourth_byte"] = field(header, cat.version[3]);
    doc["stamp"] = field(header, info.rawStamp.substr(0, info.rawStamp.find('\0')));
    doc["entries"] = field(header, info.entryCount);
    doc["directory_offset"] = field(header, info.directoryOffset);
    doc["checksum_start"] = field(header, info.checksumStart);
    doc["checksum_length"] = field(header, info.checksumLength);
    doc["reserved"] = field(header, cat.reserved);
    doc["subsystem"] = field(ok, cat.subsystem);
    doc["display_name"] = field(ok, cat.displayName);
    doc["digest"] = field(ok, Hex(info.digest));
    doc["digest_matches"] = ok && info.digestMatches;
    Json list = Json::array();
    if (!ok) list.push_back(FileError(ShownName(descriptor), why));
    if (ok && !info.digestMatches)
        list.push_back(FileError(ShownName(descriptor), "the digest does not match the checksummed range"));
    doc["diagnostics"] = list;
    io.out << JsonText(doc);
    return ok && info.digestMatches ? kExitOk : kExitFailed;
}

int DumpJsonCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    std::string why;
    bool unreadable = false;
    const bool ok = DecodeDescriptorFile(descriptor, &cat, &info, &why, &unreadable);
    if (unreadable) io.MarkUnusable();
    Json doc = Json::object();
    doc["file"] = ShownName(descriptor);
    doc["subsystem"] = ok ? Json(cat.subsystem) : Json(nullptr);
    doc["display_name"] = ok ? Json(cat.displayName) : Json(nullptr);
    doc["version"] = ok ? Json(Version(cat.version)) : Json(nullptr);
    doc["stamp"] = ok ? Json(cat.stamp) : Json(nullptr);
    Json messages = Json::array();
    if (ok)
        for (std::size_t i = 0; i < cat.messages.size(); ++i)
            messages.push_back(MessageJson(cat.messages[i], info.entryOffsets[i]));
    doc["messages"] = messages;
    Json list = Json::array();
    if (!ok) list.push_back(FileError(ShownName(descriptor), why));
    if (ok)
        for (const std::string &p : errmdesc::Validate(cat))
            list.push_back(DiagnosticJson(ShownName(descriptor), Diagnostic::Kind::Warning, Position{}, p));
    if (ok && !info.digestMatches)
        list.push_back(FileError(ShownName(descriptor), "the digest does not match the checksummed range"));
    doc["diagnostics"] = list;
    io.out << JsonText(doc);
    return ok && info.digestMatches ? kExitOk : kExitFailed;
}

} // namespace errmc
