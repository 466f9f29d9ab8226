// seed_corpus.cpp - writes the seed corpus of every fuzz target:
//   errm_fuzz_seeds <dir> [source.toml ...]
// fills <dir>/descriptor, <dir>/text and <dir>/catalogue. Descriptors come
// from the project's descriptor writer, catalogue sources from errmc's
// decompiler (and the sources named), texts are built here; nothing binary
// is kept in the source tree.
#include "decompile.h"
#include "errm_descwriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int g_written = 0;

// The catalogues of the descriptor seeds, decompiled again as source seeds.
std::vector<std::pair<std::string, errmdesc::Catalogue>> g_catalogues;

void Save(const fs::path &dir, const std::string &name, const std::string &bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
    ++g_written;
}

void SaveDescriptor(const fs::path &dir, const std::string &name, const errmdesc::Catalogue &c) {
    std::vector<std::uint8_t> bytes = errmdesc::Write(c);
    Save(dir, name, std::string(bytes.begin(), bytes.end()));
    g_catalogues.emplace_back(name, c);
}

errmdesc::Message Msg(std::int32_t number, std::uint8_t severity, std::string format,
                      std::vector<std::uint8_t> reports) {
    errmdesc::Message m;
    m.number = number;
    m.name = "M" + std::to_string(number);
    m.severity = severity;
    m.format = std::move(format);
    m.reports = std::move(reports);
    return m;
}

errmdesc::Catalogue Cat(std::vector<errmdesc::Message> messages, std::string display = "") {
    errmdesc::Catalogue c;
    c.subsystem = "FUZZ";
    c.displayName = std::move(display);
    c.version = {1, 0, 3, 0};
    c.stamp = "202612071200";
    c.messages = std::move(messages);
    return c;
}

// ---------------------------------------------------------------- descriptors

void Descriptors(const fs::path &dir) {
    // Every field, every severity, every channel; formats that need no
    // argument so that the fuzzer processes them.
    std::vector<errmdesc::Message> all;
    for (std::uint8_t sev = 1; sev <= 8; ++sev) {
        errmdesc::Message m =
            Msg(sev * 10, sev, "message of severity " + std::to_string(sev) + " 100%%", {0});
        m.dateKind = static_cast<std::uint8_t>(sev % 4);
        m.rc = static_cast<std::int16_t>(sev - 4);
        all.push_back(m);
    }
    errmdesc::Message full =
        Msg(7, 1, "every field", {0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 7});
    full.id = "FUZZ-0007";
    full.env = "ERRM_FUZZ_DIR";
    full.second = "a comment the library skips";
    full.force = 1;
    full.see = "the guide, chapter 2";
    full.dateKind = 1;
    full.cat = "FILE=${ERRM_FUZZ_DIR}/cat.txt";
    full.command = "CMD=echo never run";
    full.rc = -3;
    all.push_back(full);
    errmdesc::Message searched = Msg(8, 7, "cat through the search path", {7, 5});
    searched.cat = "FILE=cat.txt";
    all.push_back(searched);
    errmdesc::Message missing = Msg(9, 3, "cat of a missing file", {0});
    missing.cat = "FILE=no-such-file.txt";
    all.push_back(missing);
    SaveDescriptor(dir, "every_field.bin", Cat(all, "Fuzz display"));

    // Formats with conversions: decoded and laid out, never processed.
    SaveDescriptor(dir, "conversions.bin",
                   Cat({Msg(1, 1, "cannot open %s (code %d)", {0}), Msg(2, 3, "%5.2f%%", {0, 2}),
                        Msg(3, 8, "%c%lld%zu", {1})}));

    SaveDescriptor(dir, "empty_directory.bin", Cat({}));

    errmdesc::Catalogue old = Cat({Msg(-5, 8, "display only", {})}, "Old");
    old.version = {0, 9, 9, 0};
    SaveDescriptor(dir, "old_version.bin", old);

    // Texts at their longest.
    errmdesc::Message big = Msg(1, 1, std::string(4095, 'f'), {0});
    big.id = std::string(1023, 'i');
    big.env = std::string(128, 'E');
    big.second = std::string(100, 's');
    big.see = std::string(1023, 'S');
    SaveDescriptor(dir, "longest_texts.bin", Cat({big}, std::string(255, 'D')));

    std::vector<errmdesc::Message> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(Msg(i * 3 - 60, static_cast<std::uint8_t>(1 + i % 8), "m", {0}));
    SaveDescriptor(dir, "forty_messages.bin", Cat(many));
}

// ---------------------------------------------------------------------- texts

// Operation byte, two parameter bytes, then the text (text_fuzzer.cpp).
void Text(const fs::path &dir, const std::string &name, unsigned op, unsigned param,
          const std::string &text) {
    std::string bytes;
    bytes += static_cast<char>(op);
    bytes += static_cast<char>(param & 0xFF);
    bytes += static_cast<char>((param >> 8) & 0xFF);
    bytes += text;
    Save(dir, name, bytes);
}

void Texts(const fs::path &dir) {
    const std::string format = "Value\\n &lt;b&gt; &#38; &apos;x&quot; \\t tab & lone &lt \\x";
    Text(dir, "convert", 0, 0, format);
    Text(dir, "convert_long", 0, 0, std::string(4096, 'c'));
    Text(dir, "convert_too_long", 0, 0, std::string(4094, 'c') + "\\n!");
    Text(dir, "escape_lt", 1, 4, "&lt;");
    Text(dir, "escape_cut", 1, 5, "&apos");
    Text(dir, "escape_quot", 1, 6, "&quot;rest");
    Text(dir, "expand_plain", 2, 100, "a$b");
    Text(dir, "expand_dollar_end", 2, 100, "a$");
    Text(dir, "expand_unclosed", 2, 100, "a${B");
    Text(dir, "expand_set", 2, 1023, "${ERRM_FZ_A}/x/${ERRM_FZ_REF}");
    Text(dir, "expand_long", 2, 1400, "${ERRM_FZ_LONG}");
    Text(dir, "expand_unset", 2, 50, "x${ERRM_FZ_UNSET}y");
    Text(dir, "expand_capacity", 2, 3, "abcd");
    Text(dir, "flags", 3, 0, "T:X:1");
    Text(dir, "flags_lower", 3, 0, "x:t:x:x:x:true");
    Text(dir, "flags_empty_piece", 3, 0, "T,,T");
    Text(dir, "flags_unknown", 3, 0, "ON:OUI:VRAI,Y,yes:no:1:0");
    for (char c : std::string("SPTDCRLKFX$"))
        Text(dir, std::string("letter_") + (c == '$' ? std::string("end") : std::string(1, c)), 4,
             static_cast<unsigned char>(c), "");
    Text(dir, "direct_all_letters", 5, 5, "TRACE\nSXPTDCRLKF\nERRM_FZ_LEVEL");
    Text(dir, "direct_signed", 5, 10, "Tx\nSQ\nERRM_FZ_SIGNED");
    Text(dir, "direct_lower", 5, 5, "debug\nS\nERRM_FZ_LEVEL");
    Text(dir, "direct_debug", 5, 5, "DEBUG\nS\nERRM_FZ_LEVEL");
    Text(dir, "direct_not_decimal", 5, 5, "TRACE\nS\nERRM_FZ_BAD");
    Text(dir, "direct_empty", 5, 5, "\nS\n");
    Text(dir, "user_all_channels", 6, 0x03FF, format);
    Text(dir, "user_pipe", 6, 0x0002, "pipe &quot;only&quot;");
    Text(dir, "user_not_forced", 6, 0x01FF, "percent % sign");
    Text(dir, "user_long", 6, 0x0201, std::string(4097, 'u'));
    Text(dir, "expand_first_chars", 2, (3u << 11) | 100, "${ERRM_FZ_A}xyz");
    Text(dir, "expand_cut_reference", 2, (2u << 11) | 100, "a${ERRM_FZ_A}");
    Text(dir, "both", 7, 0, "T:&lt;:\\n");
    Text(dir, "debug_lower", 8, 0, "/tmp;x:t:x:x:x:true");
    Text(dir, "debug_no_path", 8, 0, "T:X:1");
    Text(dir, "debug_quoted", 8, 0, "'/my dir';T");
    Text(dir, "debug_reference", 8, 0, "${ERRM_FZ_A}/log;X:X:X:X:X:1");
    Text(dir, "debug_leading", 8, 0, ";;;T");
    Text(dir, "debug_all_false", 8, 0, "dir;");
    Text(dir, "debug_one_quote", 8, 0, "';T:T:T:T:T:T");
    Text(dir, "debug_long", 8, 0, std::string(1100, 'd') + ";T,,T");
    // '%' then a character choosing the conversion: a = %s / %d, and so on.
    Text(dir, "format_plain", 9, 0, "cannot open %a (code %a)");
    Text(dir, "format_all", 9, 0x0145, "%a%b%c%d%e%f%g%h%i%j 100%%");
    Text(dir, "format_long", 9, 0x17FF, "%a%a%c-%c");
    Text(dir, "format_null", 9, 0x2000 | 3, "%a%a%a%a%a%a%a%a");
    Text(dir, "format_percent_end", 9, 0, "ends with %");
}

// ------------------------------------------------------------ sources

void Sources(const fs::path &dir, const std::vector<fs::path> &examples) {
    for (const auto &[name, cat] : g_catalogues)
        Save(dir, fs::path(name).replace_extension(".toml").string(),
             errmc::Decompile(cat, name).text);
    for (const fs::path &example : examples) {
        std::ifstream in(example, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Save(dir, "example_" + example.filename().string(), text);
    }
    // Sources errmc refuses, one fault each.
    const std::string head = "subsystem = \"BAD\"\nversion = \"1.0.0\"\n";
    const std::string message = "\n[[message]]\nnumber = 1\nname = \"ONE\"\n";
    Save(dir, "bad_severity.toml", head + message + "severity = \"LOUD\"\n");
    Save(dir, "bad_format.toml", head + message + "severity = \"ERROR\"\nformat = 'x %n %1$d'\n");
    Save(dir, "bad_channel.toml",
         head + message + "severity = \"NOTE\"\nreports = [\"NOWHERE\"]\n");
    Save(dir, "duplicate.toml",
         head + message + "severity = \"NOTE\"\n" + message + "severity = \"NOTE\"\n");
    Save(dir, "bad_name.toml",
         head + "\n[[message]]\nnumber = 2\nname = \"2 bad\"\n"
                "severity = \"NOTE\"\n");
    Save(dir, "too_long.toml",
         head + message + "severity = \"NOTE\"\nsee = \"" + std::string(1100, 's') + "\"\n");
    Save(dir, "syntax.toml", head + "[[message]\nnumber = = 1\n");
    Save(dir, "unicode.toml",
         head + message +
             "severity = \"DISPLAY\"\nformat = \"caf\\u00e9 \\t %s\"\n"
             "comment = \"\"\"multi\nline\"\"\"\n");
}

} // namespace

// errm_fuzz_seeds <corpus directory> [catalogue sources to add ...]
int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: errm_fuzz_seeds <corpus directory> [source.toml ...]\n");
        return 2;
    }
    const fs::path root(argv[1]);
    // Only the seeds: inputs a fuzzer added to these directories go.
    for (const char *target : {"descriptor", "text", "catalogue"})
        fs::remove_all(root / target);
    Descriptors(root / "descriptor");
    Texts(root / "text");
    Sources(root / "catalogue", std::vector<fs::path>(argv + 2, argv + argc));
    std::printf("errm_fuzz_seeds: %d seeds written under %s\n", g_written, root.c_str());
    return 0;
}
