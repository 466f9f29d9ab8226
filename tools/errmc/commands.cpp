// commands.cpp - errmc's commands: loading a checked source, the three
// source commands, then the three descriptor commands.
#include "commands.h"
#include "fields.h"

#include "decompile.h"
#include "diagnostics.h"
#include "errm_descwriter.h"
#include "escape.h"
#include "header.h"
#include "input.h"
#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <sstream>

namespace errmc {

namespace {

namespace fs = std::filesystem;

std::string Messages(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " message" : " messages");
}

// Reads and checks the source, gives it its default stamp when it has none,
// and prints every diagnostic. Nothing when there was an error.
std::optional<errmdesc::Catalogue> LoadCatalogue(const std::string &path, Streams io) {
    std::optional<Source> source = ReadSource(path, io);
    if (!source) return std::nullopt;
    if (!source->stampGiven) {
        std::string why;
        const std::optional<std::string> stamp =
            DefaultStamp(std::getenv("SOURCE_DATE_EPOCH"), std::time(nullptr), &why);
        if (!stamp) {
            io.Error(why);
            return std::nullopt;
        }
        source->cat.stamp = *stamp;
    }
    // The source checks cover the descriptor's bounds; this is a second net.
    const std::vector<std::string> problems = errmdesc::Validate(source->cat);
    for (const std::string &p : problems)
        io.Error("internal: the catalogue is not a valid descriptor: " + p);
    if (!problems.empty()) return std::nullopt;
    return std::move(source->cat);
}

} // namespace

// ----------------------------------------------------------- source commands

int CompileCommand(const std::string &source, const std::string &outDir, Streams io) {
    const std::optional<errmdesc::Catalogue> cat = LoadCatalogue(source, io);
    if (!cat) return kExitFailed;
    const std::string dir = outDir.empty() ? "." : outDir;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        io.Unusable("cannot create " + dir + ": " + ec.message());
        return kExitFailed;
    }
    const std::string path = dir + "/" + errmdesc::FileName(cat->subsystem);
    const std::vector<std::uint8_t> bytes = errmdesc::Write(*cat);
    if (!WriteOutput(path, std::string(bytes.begin(), bytes.end()), io)) return kExitFailed;
    io.out << "wrote " << path << " (" << Messages(cat->messages.size()) << ", " << bytes.size()
           << " bytes)\n";
    return kExitOk;
}

int CheckCommand(const std::string &source, Streams io) {
    const std::optional<errmdesc::Catalogue> cat = LoadCatalogue(source, io);
    if (!cat) return kExitFailed;
    io.out << ShownName(source) << ": subsystem " << cat->subsystem << ", " << Messages(cat->messages.size())
           << ", no errors\n";
    return kExitOk;
}

int HeaderCommand(const std::string &input, const std::string &outFile, Streams io) {
    const std::optional<InputCatalogue> in = ReadAnyCatalogue(input, io);
    if (!in) return kExitFailed;
    // A descriptor may hold what no checked source does.
    const std::vector<std::string> problems = HeaderProblems(in->cat);
    for (const std::string &p : problems)
        io.Error(ShownName(input) + ": " + p);
    if (!problems.empty()) return kExitFailed;
    const std::string text =
        GenerateHeader(in->cat, input == "-" ? ShownName(input) : fs::path(input).filename().string());
    return WriteOutput(outFile, text, io) ? kExitOk : kExitFailed;
}

// ------------------------------------------------------- descriptor commands

int InfoCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    // The header rows are printed even when the rest does not decode, and
    // the failure after them.
    std::ostringstream failure;
    const bool ok = ReadDescriptor(descriptor, &cat, &info, Streams{io.out, failure, io.run});
    std::ostream &o = io.out;
    auto row = [&](const char *label) -> std::ostream & {
        return o << std::left << std::setw(18) << label;
    };
    if (info.fileSize >= errmdesc::kHeaderSize) {
        char magic[16];
        std::snprintf(magic, sizeof magic, "0x%08X", info.magic);
        row("file") << ShownName(descriptor) << " (" << info.fileSize << " bytes)\n";
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
        io.err << failure.str();
        return kExitFailed;
    }
    row("subsystem") << CQuoted(cat.subsystem) << '\n';
    row("display name") << CQuoted(cat.displayName) << '\n';
    row("digest") << Hex(info.digest)
                  << (info.digestMatches ? " (matches)" : " (DOES NOT MATCH the checksummed range)")
                  << '\n';
    return info.digestMatches ? kExitOk : kExitFailed;
}

int DumpCommand(const std::string &descriptor, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    if (!ReadDescriptor(descriptor, &cat, &info, io)) return kExitFailed;
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
        row("severity") << KeywordAndCode(errmdesc::kSeverityNames, m.severity) << '\n';
        row("id") << CQuoted(m.id) << '\n';
        row("format") << CQuoted(m.format) << '\n';
        row("reports") << (m.reports.empty() ? "(none)" : "");
        for (std::size_t r = 0; r < m.reports.size(); ++r)
            o << (r ? " " : "") << KeywordAndCode(errmdesc::kChannelNames, m.reports[r]);
        o << '\n';
        row("force display") << (m.force == 1 ? "yes" : "no") << " (" << int{m.force} << ")\n";
        row("date") << KeywordAndCode(errmdesc::kDateKindNames, m.dateKind) << '\n';
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
        io.Warning(ShownName(descriptor) + ": " + p);
    if (!info.digestMatches) {
        io.Error(ShownName(descriptor) + ": the digest does not match the checksummed range");
        return kExitFailed;
    }
    return kExitOk;
}

int DecompileCommand(const std::string &descriptor, const std::string &outFile, Streams io) {
    errmdesc::Catalogue cat;
    errmdesc::ReadInfo info;
    if (!ReadDescriptor(descriptor, &cat, &info, io)) return kExitFailed;
    const std::string name = ShownName(descriptor);
    if (!info.digestMatches)
        io.Warning(name + ": the digest does not match the checksummed range");
    const std::size_t nul = info.rawStamp.find('\0');
    if (nul != std::string::npos && info.rawStamp.find_first_not_of('\0', nul) != std::string::npos)
        io.Note("the stamp's bytes after its first NUL are not kept");

    const Decompiled d =
        Decompile(cat, descriptor == "-" ? name : fs::path(descriptor).filename().string());
    for (const std::string &n : d.notes)
        io.Note(n);
    for (const std::string &p : d.problems)
        io.Error(p);
    if (!WriteOutput(outFile, d.text, io)) return kExitFailed;
    return d.problems.empty() ? kExitOk : kExitFailed;
}

} // namespace errmc
