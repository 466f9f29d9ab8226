// errm_options.cpp - ERRM_OPTIONS parsing and the rank of a parallel launch.
//
// Sections: option table; parsing; rank.
#include "base/errm_options.h"
#include "base/errm_text.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

errm_RunOptions errm_Opt = {errm_Diagnostics::toStdout, 0, 0, {}, {}};

namespace {

// ------------------------------------------------------------- option table

// A setter takes the value and returns 1 when it is valid.
using OptionSetter = int (*)(std::string_view value, errm_RunOptions *opts);

int setDiagnostics(std::string_view v, errm_RunOptions *o) {
    if (v == "stdout") o->diagnostics = errm_Diagnostics::toStdout;
    else if (v == "stderr") o->diagnostics = errm_Diagnostics::toStderr;
    else if (v == "off") o->diagnostics = errm_Diagnostics::off;
    else return 0;
    return 1;
}

int setVerify(std::string_view v, errm_RunOptions *o) {
    if (v == "strict") o->verifyStrict = 1;
    else if (v == "default" || v == "trace") o->verifyStrict = 0;
    else return 0;
    return 1;
}

// Copies a value into a fixed field: refused when empty or too long.
int copyValue(std::string_view v, char *dst, std::size_t cap) {
    if (v.empty() || v.size() >= cap) return 0;
    std::memcpy(dst, v.data(), v.size());
    dst[v.size()] = '\0';
    return 1;
}

int setJson(std::string_view v, errm_RunOptions *o) {
    if (!copyValue(v, o->jsonPath, sizeof o->jsonPath)) return 0;
    o->json = 1;
    return 1;
}

int setRun(std::string_view v, errm_RunOptions *o) {
    return copyValue(v, o->run, sizeof o->run);
}

struct OptionRow {
    std::string_view key;
    OptionSetter set;
    const char *expected; // told when the value is refused
};

constexpr std::array<OptionRow, 4> kOptions = {{
    {"diagnostics", setDiagnostics, "stdout, stderr or off"},
    {"verify", setVerify, "strict or default"},
    {"json", setJson, "a path of at most 1023 characters"},
    {"run", setRun, "an identifier of at most 127 characters"},
}};

// ------------------------------------------------------------------ parsing

bool isSeparator(char c) {
    return c == ',' || c == ':';
}

// Applies one key=value pair; 0 when refused (told on standard error).
int applyPair(std::string_view key, std::string_view value, bool hasValue, errm_RunOptions *o) {
    for (const OptionRow &row : kOptions) {
        if (row.key != key) continue;
        if (hasValue && row.set(value, o)) return 1;
        std::fprintf(stderr, "ERRM_OPTIONS: bad value '%.*s' for %.*s (expected %s); ignored\n",
                     static_cast<int>(value.size()), value.data(), static_cast<int>(key.size()),
                     key.data(), row.expected);
        return 0;
    }
    std::fprintf(stderr, "ERRM_OPTIONS: unknown option '%.*s'; ignored\n",
                 static_cast<int>(key.size()), key.data());
    return 0;
}

} // namespace

int errm_ParseOptions(const char *text, errm_RunOptions *opts) {
    *opts = errm_RunOptions{errm_Diagnostics::toStdout, 0, 0, {}, {}};
    if (text == nullptr) return 0;
    int refused = 0;
    const char *p = text;
    while (*p != '\0') {
        if (isSeparator(*p)) {
            ++p;
            continue;
        }
        const char *keyStart = p;
        while (*p != '\0' && *p != '=' && !isSeparator(*p))
            ++p;
        std::string_view key(keyStart, static_cast<std::size_t>(p - keyStart));
        std::string_view value;
        bool hasValue = *p == '=';
        if (hasValue) {
            ++p;
            if (*p == '\'' || *p == '"') {
                const char quote = *p++;
                const char *end = std::strchr(p, quote);
                if (end == nullptr) end = p + std::strlen(p); // unclosed: to the end
                value = std::string_view(p, static_cast<std::size_t>(end - p));
                p = *end != '\0' ? end + 1 : end;
            } else {
                const char *start = p;
                while (*p != '\0' && !isSeparator(*p))
                    ++p;
                value = std::string_view(start, static_cast<std::size_t>(p - start));
            }
        }
        if (!applyPair(key, value, hasValue, opts)) ++refused;
    }
    return refused;
}

int errm_ReadOptions() {
    return errm_ParseOptions(std::getenv("ERRM_OPTIONS"), &errm_Opt);
}

// --------------------------------------------------------------------- rank

namespace {

struct RankSource {
    const char *rank; // variable holding the rank
    const char *size; // variable holding the number of processes
};

constexpr std::array<RankSource, 4> kRankSources = {{
    {"OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE"},
    {"PMI_RANK", "PMI_SIZE"},
    {"PMIX_RANK", "PMIX_SIZE"},
    {"SLURM_PROCID", "SLURM_NTASKS"},
}};

// A whole decimal number in [0, 1e9); -1 otherwise.
long readCount(const char *name) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text < '0' || *text > '9') return -1;
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v >= 1000000000L) return -1;
    return v;
}

errm_ProcessRank g_rank = {0, 0, 0, 0};
int g_rankRead = 0;

} // namespace

void errm_RereadRank() {
    g_rank = errm_ProcessRank{0, 0, 0, 0};
    for (const RankSource &s : kRankSources) {
        long rank = readCount(s.rank);
        if (rank < 0) continue;
        long size = readCount(s.size);
        // The first launcher that names a rank decides, even when it names
        // no usable size: a later variable belongs to another layer.
        if (size > 1 && rank < size) {
            int width = 1;
            for (long top = size - 1; top >= 10; top /= 10)
                ++width;
            g_rank = errm_ProcessRank{1, rank, size, width};
        }
        break;
    }
    g_rankRead = 1;
}

const errm_ProcessRank &errm_Rank() {
    if (!g_rankRead) errm_RereadRank();
    return g_rank;
}

int errm_RankText(char *out, std::size_t cap) {
    if (cap > 0) out[0] = '\0';
    const errm_ProcessRank &r = errm_Rank();
    if (!r.known) return 0;
    int n = std::snprintf(out, cap, "%0*ld", r.width, r.rank);
    if (n <= 0 || static_cast<std::size_t>(n) >= cap) {
        if (cap > 0) out[0] = '\0';
        return 0;
    }
    return 1;
}
