// input.cpp - reading a catalogue from a source or a descriptor, and the
// adapter over the printf parser.
#include "input.h"

#include "printf_format.h"
#include "source.h"

#include <algorithm>
#include <fstream>
#include <filesystem>
#include <iterator>

namespace errmc {

namespace {

void Fail(Streams io, const std::string &message) {
    io.err << "errmc: error: " << message << '\n';
}

// Only a regular file is opened: anything else is left to the source
// reader, which refuses it without blocking on a FIFO.
bool StartsWithMagic(const std::string &path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    unsigned char b[4] = {};
    if (!in.read(reinterpret_cast<char *>(b), sizeof b)) return false;
    const std::uint32_t word = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    return word == errmdesc::kMagic;
}

} // namespace

std::optional<InputCatalogue> ReadAnyCatalogue(const std::string &path, Streams io) {
    InputCatalogue in;
    if (StartsWithMagic(path)) {
        in.fromDescriptor = true;
        errmdesc::ReadInfo info;
        std::string why;
        if (!errmdesc::ReadFile(path, &in.cat, &info, &why)) {
            Fail(io, path + ": " + why);
            return std::nullopt;
        }
        if (!info.digestMatches)
            io.err << "errmc: warning: " << path
                   << ": the digest does not match the checksummed range\n";
        return in; // the directory is in number order
    }
    Diagnostics diags;
    std::optional<Source> source = ParseSourceFile(path, diags);
    diags.Print(io.err, path);
    if (!source) return std::nullopt;
    in.cat = std::move(source->cat);
    std::stable_sort(in.cat.messages.begin(), in.cat.messages.end(),
                     [](const errmdesc::Message &a, const errmdesc::Message &b) {
                         return a.number < b.number;
                     });
    return in;
}

std::vector<Parameter> FormatParameters(std::string_view format, bool *usable) {
    ParsedFormat parsed = ParsePrintfFormat(format);
    if (usable) *usable = parsed.problems.empty();
    std::vector<Parameter> out;
    for (FormatArgument &a : parsed.arguments)
        out.push_back({std::move(a.ctype), std::move(a.conversion), a.starArgument});
    return out;
}

} // namespace errmc
