// catalogue_fuzzer.cpp - errmc on a fuzzed catalogue source: parse and
// check it, and for a source it accepts, follow it all the way: the
// descriptor writer's validation, the written descriptor read back field for
// field, the generated C header, the decompiled source (which errmc itself
// compiles again and compares), and the library loading the descriptor and
// decoding every message as the source describes it.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "decompile.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "errm_descwriter.h"
#include "fuzz_common.h"
#include "header.h"
#include "source.h"

#include <algorithm>
#include <set>
#include <cstring>
#include <string>
#include <string_view>

using errmfuzz::Fail;

namespace {

// The descriptor holds the messages sorted by number, equal numbers in
// source order; the reader gives them back so.
std::vector<errmdesc::Message> Sorted(std::vector<errmdesc::Message> m) {
    std::stable_sort(
        m.begin(), m.end(),
        [](const errmdesc::Message &a, const errmdesc::Message &b) { return a.number < b.number; });
    return m;
}

bool SameMessage(const errmdesc::Message &a, const errmdesc::Message &b) {
    return a.number == b.number && a.name == b.name && a.id == b.id && a.severity == b.severity &&
           a.env == b.env && a.format == b.format && a.second == b.second && a.force == b.force &&
           a.reports == b.reports && a.see == b.see && a.dateKind == b.dateKind && a.cat == b.cat &&
           a.command == b.command && a.rc == b.rc;
}

// Diagnostics point into the text: a line of the text (or 0, the whole
// file) and a column from 1.
void CheckPositions(const errmc::Diagnostics &diags, std::string_view text) {
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    for (const errmc::Diagnostic &d : diags.All()) {
        if (d.message.empty()) Fail("empty diagnostic", d.at.line);
        if (d.at.line == 0) continue;
        if (d.at.line > lines + 1 || d.at.column == 0) Fail("diagnostic position", d.at.line);
    }
}

// The library loads what errmc compiled and decodes every message as the
// source gave it.
void LoadInLibrary(const errmdesc::Catalogue &cat, const std::vector<std::uint8_t> &bytes) {
    errmfuzz::WriteWorkFile("errm_desc_CAT.bin", bytes.data(), bytes.size());
    const int start = errm_AllocationCount();
    if (ERRM_Init() != 1) Fail("ERRM_Init", 0);
    int index = -1;
    int rc = ERRM_ReadErrorDescriptor("cat", &index);
    if (rc != 0) Fail("the library refused a compiled catalogue", rc);
    // The library records 32 distinct environment names, in the order the
    // messages are decoded, and refuses a message that names another.
    std::set<std::string> envNames;
    for (const errmdesc::Message &m : cat.messages) {
        rc = errm_LookupEntry(static_cast<unsigned>(index), m.number);
        const bool newName = !m.env.empty() && envNames.count(m.env) == 0;
        if (newName && envNames.size() == 32) {
            if (rc != ERRM_E_TOO_MANY_ENV) Fail("the 33rd environment name", rc);
            continue;
        }
        if (newName) envNames.insert(m.env);
        if (rc != 0) Fail("the library refused a compiled message", rc);
        const errm_MessageEntry *e = errm_CurrentEntry();
        // With equal numbers the directory search may meet either record.
        if (std::count_if(cat.messages.begin(), cat.messages.end(),
                          [&](const auto &o) { return o.number == m.number; }) > 1)
            continue;
        if (e->severity != m.severity || std::string_view(e->format) != m.format ||
            std::string_view(e->id, e->idLength) != m.id || e->forceDisplay != (m.force == 1) ||
            e->reportCount != static_cast<int>(m.reports.size()) ||
            !std::equal(m.reports.begin(), m.reports.end(), e->reports) ||
            e->dateKind != m.dateKind || e->rc != m.rc || e->seeFlag != (m.see.empty() ? 0 : 1) ||
            e->catFlag != (m.cat.empty() ? 0 : 1) || e->cmdFlag != (m.command.empty() ? 0 : 1))
            Fail("the library decoded a message otherwise", m.number);
    }
    if (ERRM_FInit() != 1) Fail("ERRM_FInit", 0);
    errm_TestResetLoadedCount();
    errm_TestResetEnvNames();
    if (errm_AllocationCount() != start) Fail("blocks after ERRM_FInit", errm_AllocationCount());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    errmfuzz::SilenceStdout();
    const std::string &dir = errmfuzz::WorkDir();
    setenv("ORV_VCO", "ixl", 1);
    unsetenv("KOVA_ERRM_LDBG");
    ERRM_Set_Root_ForMemoryDescriptor((dir + "/").c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    errmc::Diagnostics diags;
    std::optional<errmc::Source> source = errmc::ParseSource(text, "fuzz.toml", diags);
    CheckPositions(diags, text);
    if (source.has_value() == diags.HasErrors()) Fail("result and errors disagree", 0);
    if (!source) return 0;

    // More than 32 distinct environment names are warned about.
    std::set<std::string> names;
    for (const errmdesc::Message &m : source->cat.messages)
        if (!m.env.empty()) names.insert(m.env);
    const bool warned = std::any_of(diags.All().begin(), diags.All().end(), [](const auto &d) {
        return d.kind == errmc::Diagnostic::Kind::Warning &&
               d.message.find("distinct environment names") != std::string::npos;
    });
    if (warned != (names.size() > 32)) Fail("environment names warning", names.size());

    errmdesc::Catalogue cat = source->cat;
    if (!source->stampGiven) cat.stamp = "202612071200";
    const std::vector<std::string> problems = errmdesc::Validate(cat);
    if (!problems.empty()) Fail("a checked source does not validate", problems.size());

    const std::vector<std::uint8_t> bytes = errmdesc::Write(cat);
    errmdesc::Catalogue back;
    errmdesc::ReadInfo info;
    std::string error;
    if (!errmdesc::Read(bytes, &back, &info, &error)) Fail("written descriptor unreadable", 0);
    if (!info.digestMatches) Fail("digest", 0);
    const std::vector<errmdesc::Message> want = Sorted(cat.messages);
    if (back.subsystem != cat.subsystem || back.displayName != cat.displayName ||
        back.version != cat.version || back.messages.size() != want.size())
        Fail("descriptor header read back", static_cast<long>(back.messages.size()));
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!SameMessage(want[i], back.messages[i])) Fail("message read back", want[i].number);

    const std::string header = errmc::GenerateHeader(cat, "fuzz.toml");
    if (header.empty()) Fail("empty header", 0);

    const errmc::Decompiled d = errmc::Decompile(back, "fuzz.bin");
    if (!d.problems.empty()) {
        std::fprintf(stderr, "%s\n", d.problems.front().c_str());
        Fail("decompiled source does not give the catalogue back", d.problems.size());
    }

    LoadInLibrary(cat, bytes);
    return 0;
}
