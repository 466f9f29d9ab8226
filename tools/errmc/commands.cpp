// commands.cpp - errmc's commands: loading a checked source, writing output
// files, the three source commands, then the three descriptor commands.
#include "commands.h"
#include "fields.h"

#include "decompile.h"
#include "errm_descwriter.h"
#include "escape.h"
#include "header.h"
#include "source.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>

namespace errmc {

namespace {

namespace fs = std::filesystem;

std::string Messages(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " message" : " messages");
}

void Fail(Streams io, const std::string &message) {
    io.err << "errmc: error: " << message << '\n';
}

// Parses and checks the source, gives it its default stamp when it has none,
// and prints every diagnostic. Nothing when there was an error.
std::optional<errmdesc::Catalogue> LoadCatalogue(const std::string &path, Streams io) {
    Diagnostics diags;
    // The text read is kept for the source lines under the diagnostics.
    std::string text;
    std::optional<Source> source = ParseSourceFile(path, diags, &text);
    diags.Print(io.err, path, text, &io.err == &std::cerr && ColourOnStderr());
    if (!source) return std::nullopt;
    if (!source->stampGiven) {
        std::string why;
        const std::optional<std::string> stamp =
            DefaultStamp(std::getenv("SOURCE_DATE_EPOCH"), std::time(nullptr), &why);
        if (!stamp) {
            Fail(io, why);
            return std::nullopt;
        }
        source->cat.stamp = *stamp;
    }
    // The source checks cover the descriptor's bounds; this is a second net.
    const std::vector<std::string> problems = errmdesc::Validate(source->cat);
    for (const std::string &p : problems)
        Fail(io, "internal: the catalogue is not a valid descriptor: " + p);
    if (!problems.empty()) return std::nullopt;
    return std::move(source->cat);
}

// Writes `text` to `path`, or to io.out when the path is empty.
bool Output(const std::string &path, const std::string &text, Streams io) {
    if (path.empty()) {
        io.out << text;
        return true;
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f) f << text;
    if (f) f.close();
    if (!f) {
        Fail(io, "cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// Reads a descriptor; prints the failure.
bool LoadDescriptor(const std::string &path, errmdesc::Catalogue *cat, errmdesc::ReadInfo *info,
                    Streams io) {
    std::string why;
    if (errmdesc::ReadFile(path, cat, info, &why)) return true;
    Fail(io, path + ": " + why);
    return false;
}

} // namespace

// ----------------------------------------------------------- source commands

int CompileCommand(const std::string &source, const std::string &outDir, Streams io) {
    const std::optional<errmdesc::Catalogue> cat = LoadCatalogue(source, io);
    if (!cat) return 1;
    const std::string dir = outDir.empty() ? "." : outDir;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        Fail(io, "cannot create " + dir + ": " + ec.message());
        return 1;
    }
    std::string why;
    const std::string path = errmdesc::WriteFile(*cat, dir, &why);
    if (path.empty()) {
        Fail(io, why);
        return 1;
    }
    io.out << "wrote " << path << " (" << Messages(cat->messages.size()) << ", "
           << errmdesc::Write(*cat).size() << " bytes)\n";
    return 0;
}

int CheckCommand(const std::string &source, Streams io) {
    const std::optional<errmdesc::Catalogue> cat = LoadCatalogue(source, io);
    if (!cat) return 1;
    io.out << source << ": subsystem " << cat->subsystem << ", " << Messages(cat->messages.size())
           << ", no errors\n";
    return 0;
}

int HeaderCommand(const std::string &source, const std::string &outFile, Streams io) {
    const std::optional<errmdesc::Catalogue> cat = LoadCatalogue(source, io);
    if (!cat) return 1;
    const std::string text = GenerateHeader(*cat, fs::path(source).filename().string());
    return Output(outFile, text, io) ? 0 : 1;
}

// ------------------------------------------------------- descriptor commands

int InfoCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    std::string why;
    const bool ok = errmdesc::ReadFile(descriptor, &cat, &info, &why);
    std::ostream &o = io.out;
    auto row = [&](const char *label) -> std::ostream & {
        return o << std::left << std::setw(18) << label;
    };
    if (info.fileSize >= errmdesc::kHeaderSize) {
        char magic[16];
        std::snprintf(magic, sizeof magic, "0x%08X", info.magic);
        row("file") << descriptor << " (" << info.fileSize << " bytes)\n";
        row("magic") << magic << (info.magic == errmdesc::kMagic ? "" : " (wrong)") << '\n';
        row("version") << Version(cat.version) << " (fourth byte " << int{cat.version[3]} << ")\n";
        row("stamp") << CQuoted(info.rawStamp.substr(0, info.rawStamp.find('\0'))) << '\n';
        row("entries") << info.entryCount << '\n';
        row("directory offset") << info.directoryOffset << '\n';
        row("checksum range") << "offset " << info.checksumStart << ", " << info.checksumLength
                              << " bytes\n";
        row("reserved") << cat.reserved << '\n';
    }
    if (!ok) {
        Fail(io, descriptor + ": " + why);
        return 1;
    }
    row("subsystem") << CQuoted(cat.subsystem) << '\n';
    row("display name") << CQuoted(cat.displayName) << '\n';
    row("digest") << Hex(info.digest)
                  << (info.digestMatches ? " (matches)" : " (DOES NOT MATCH the checksummed range)")
                  << '\n';
    return info.digestMatches ? 0 : 1;
}

int DumpCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    if (!LoadDescriptor(descriptor, &cat, &info, io)) return 1;
    std::ostream &o = io.out;
    o << "subsystem " << CQuoted(cat.subsystem) << ", display name " << CQuoted(cat.displayName)
      << ", version " << Version(cat.version) << ", stamp " << CQuoted(cat.stamp) << ", "
      << Messages(cat.messages.size()) << '\n';
    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        const errmdesc::Message &m = cat.messages[i];
        auto row = [&](const char *label) -> std::ostream & {
            return o << "  " << std::left << std::setw(15) << label;
        };
        o << "\nmessage " << m.number << " (entry at offset " << info.entryOffsets[i] << ")\n";
        row("name") << CQuoted(m.name) << '\n';
        row("severity") << Keyword(errmdesc::kSeverityNames, m.severity) << " (" << int{m.severity}
                        << ")\n";
        row("id") << CQuoted(m.id) << '\n';
        row("format") << CQuoted(m.format) << '\n';
        row("reports") << (m.reports.empty() ? "(none)" : "");
        for (std::size_t r = 0; r < m.reports.size(); ++r)
            o << (r ? " " : "") << Keyword(errmdesc::kChannelNames, m.reports[r]) << " ("
              << int{m.reports[r]} << ')';
        o << '\n';
        row("force display") << (m.force == 1 ? "yes" : "no") << " (" << int{m.force} << ")\n";
        row("date") << Keyword(errmdesc::kDateKindNames, m.dateKind) << " (" << int{m.dateKind}
                    << ")\n";
        row("env") << CQuoted(m.env) << '\n';
        row("see") << CQuoted(m.see) << '\n';
        row("cat") << CQuoted(m.cat) << '\n';
        row("command") << CQuoted(m.command) << '\n';
        row("rc") << m.rc << '\n';
        row("comment") << CQuoted(m.second) << '\n';
        if (m.spareWord || m.spareByte || m.dirSpare)
            row("spare") << "word " << m.spareWord << ", byte " << int{m.spareByte}
                         << ", directory " << m.dirSpare << '\n';
    }
    for (const std::string &p : errmdesc::Validate(cat))
        io.err << "errmc: warning: " << descriptor << ": " << p << '\n';
    if (!info.digestMatches) {
        Fail(io, descriptor + ": the digest does not match the checksummed range");
        return 1;
    }
    return 0;
}

int DecompileCommand(const std::string &descriptor, const std::string &outFile, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    if (!LoadDescriptor(descriptor, &cat, &info, io)) return 1;
    if (!info.digestMatches)
        io.err << "errmc: warning: " << descriptor
               << ": the digest does not match the checksummed range\n";
    const std::size_t nul = info.rawStamp.find('\0');
    if (nul != std::string::npos && info.rawStamp.find_first_not_of('\0', nul) != std::string::npos)
        io.err << "errmc: note: the stamp's bytes after its first NUL are not kept\n";

    const Decompiled d = Decompile(cat, fs::path(descriptor).filename().string());
    for (const std::string &n : d.notes)
        io.err << "errmc: note: " << n << '\n';
    for (const std::string &p : d.problems)
        Fail(io, p);
    if (!Output(outFile, d.text, io)) return 1;
    return d.problems.empty() ? 0 : 1;
}

} // namespace errmc
