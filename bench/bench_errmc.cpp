// bench_errmc.cpp - errmc's catalogue-wide work on catalogues of 12.5k to
// 100k messages: the reference document (Markdown, HTML) and the diff of two
// versions, each fitted to a complexity curve (it should come out as N).
//
// The catalogues are built in memory; reading them (TOML or descriptor) is
// the compiler's own cost and is measured end to end in docs/errmc.md.
#include "diff.h"
#include "doc.h"
#include "errm_descwriter.h"

#include <benchmark/benchmark.h>

namespace {

// Messages of every shape: string, integer and real arguments, channels,
// see texts and comments, the way a large tool's catalogue looks.
errmdesc::Catalogue Generated(std::size_t n, bool later) {
    errmdesc::Catalogue c;
    c.subsystem = "BIG";
    c.stamp = later ? "v2" : "v1";
    c.messages.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        errmdesc::Message &m = c.messages[i];
        m.number = static_cast<std::int32_t>(i * 2);
        m.name = "MESSAGE_" + std::to_string(i);
        m.severity = static_cast<std::uint8_t>(1 + i % 8);
        m.format = "step %d of <%s>: residual %.3e after %lu sweeps";
        m.reports = {0, 7};
        m.see = "manual, section " + std::to_string(i % 40);
        m.second = "Raised when step & sweep " + std::to_string(i) + " fail.";
        // A later version changes one message in ten: wording, a type, a
        // renumbering or a removal.
        if (later && i % 10 == 1) m.format = "step %d of <%s>: residual %.4e after %lu sweeps";
        if (later && i % 10 == 3) m.format = "step %ld of <%s>: residual %.3e after %lu sweeps";
        if (later && i % 10 == 5) m.number += 1;
    }
    return c;
}

void BM_DocMarkdown(benchmark::State &state) {
    const std::vector<errmdesc::Catalogue> cats{Generated(state.range(0), false)};
    for (auto _ : state)
        benchmark::DoNotOptimize(errmc::GenerateDoc(cats, errmc::DocFormat::Markdown));
    state.SetComplexityN(state.range(0));
}

void BM_DocHtml(benchmark::State &state) {
    const std::vector<errmdesc::Catalogue> cats{Generated(state.range(0), false)};
    for (auto _ : state)
        benchmark::DoNotOptimize(errmc::GenerateDoc(cats, errmc::DocFormat::Html));
    state.SetComplexityN(state.range(0));
}

void BM_Diff(benchmark::State &state) {
    const errmdesc::Catalogue a = Generated(state.range(0), false);
    const errmdesc::Catalogue b = Generated(state.range(0), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(errmc::DiffCatalogues(a, b, errmc::DiffOptions{}));
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_DocMarkdown)->RangeMultiplier(2)->Range(12500, 100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_DocHtml)->RangeMultiplier(2)->Range(12500, 100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_Diff)->RangeMultiplier(2)->Range(12500, 100000)->Unit(benchmark::kMillisecond)->Complexity();

} // namespace

BENCHMARK_MAIN();
