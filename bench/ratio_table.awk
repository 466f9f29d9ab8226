# ratio_table.awk - reads the JSON files that the benchmarks write with
# --benchmark_out_format=json and --benchmark_repetitions (aggregates), and
# prints the ratio table of docs/performance.md.
#
# Every figure is the median over the repetitions of one run. Times are CPU
# times of the measuring thread (for the loads and their floor, the manual
# time, itself the CPU time of the thread that loads; see
# bench_descriptor.cpp), converted to nanoseconds.
#
# Next to each ratio of medians stands its spread: the lowest and highest
# ratio of the two benchmarks' times in the same repetition (with random
# interleaving, repetition i of every benchmark runs in the same round). A
# ratio whose median meets its target but whose spread crosses it is
# "noisy", not "met"; one whose median misses it is "MISSED".
#
# Usage: awk [-v load_before=.. -v load_after=..] -f ratio_table.awk process.json descriptor.json

# ------------------------------------------------------------ reading JSON

/^ *{ *$/ { run = ""; agg = ""; rep = ""; cpu = ""; real = ""; unit = ""; vsf = ""; next }
/"vs_floor":/ { vsf = value($0); next }
/"run_name":/ { run = value($0); next }
/"aggregate_name":/ { agg = value($0); next }
/"repetition_index":/ { rep = value($0); next }
/"cpu_time":/ { cpu = value($0); next }
/"real_time":/ { real = value($0); next }
/"time_unit":/ { unit = value($0); next }
/^ *},? *$/ {
    if (run != "" && cpu != "" && (agg == "median" || (agg == "" && rep != ""))) {
        # A manual time (the loads, the floor) is reported as the real time.
        if (sub(/\/manual_time$/, "", run)) x = real * scale(unit)
        else x = cpu * scale(unit)
        if (agg == "median") t[run] = x
        else {
            v[run, rep] = x
            if (rep + 1 > reps) reps = rep + 1
        }
        # The paired benchmark's own ratio: floor time / library time.
        if (vsf + 0 > 0) {
            if (agg == "median") paired = 1 / vsf
            else pairedRep[rep] = 1 / vsf
        }
    }
    run = ""
    next
}

# The text after the colon, without quotes and the trailing comma.
function value(line) {
    sub(/^[^:]*: */, "", line)
    sub(/,? *$/, "", line)
    gsub(/"/, "", line)
    return line
}

function scale(u) {
    if (u == "ns") return 1
    if (u == "us") return 1e3
    if (u == "ms") return 1e6
    if (u == "s") return 1e9
    return 1
}

# --------------------------------------------------------------- the table

function have(name) { return (name in t) && t[name] > 0 }

function rate(ns) { return ns > 0 ? sprintf("%.2f M/s", 1e3 / ns) : "-" }

function ms(ns) { return sprintf("%.3f ms", ns / 1e6) }

function nanos(ns) { return sprintf("%.1f ns", ns) }

# Sets lo and hi to the lowest and highest t(a)/t(b) of one repetition over
# the repetitions both ran; both 0 when there are none.
function spread(a, b,    i, r) {
    lo = 0; hi = 0
    for (i = 0; i < reps; i++) {
        if (!((a, i) in v) || !((b, i) in v) || v[b, i] <= 0) continue
        r = v[a, i] / v[b, i]
        if (lo == 0 || r < lo) lo = r
        if (r > hi) hi = r
    }
}

function meets(r, op, goal) { return op == ">=" ? r >= goal : r <= goal }

# One row: what, its figure, the figure it is compared with, the ratio
# t(a)/t(b) with its spread, the target ("" for none) and whether the ratio
# meets it (op ">=" or "<="): "met" when the whole spread does, "noisy" when
# the median does but the spread crosses the target, "MISSED" otherwise.
function row(what, figure, peer, a, b, op, goal,    ratio, verdict, target, range) {
    ratio = t[a] / t[b]
    spread(a, b)
    range = lo > 0 ? sprintf("%.2f-%.2f", lo, hi) : "-"
    verdict = ""
    target = ""
    if (op != "") {
        target = op " " goal
        if (!meets(ratio, op, goal)) { verdict = "MISSED"; missed++ }
        else if (lo > 0 && !(meets(lo, op, goal) && meets(hi, op, goal))) {
            verdict = "noisy"; noisy++
        } else { verdict = "met"; met++ }
    }
    line(sprintf("  %-44s %14s %14s %6.2f %13s  %-7s %s", what, figure, peer, ratio, range, target,
                 verdict))
}

# The paired row: the median of the per-repetition ratios of the paired
# benchmark, and their spread.
function pairedRow(    i, verdict, plo, phi) {
    plo = 0; phi = 0
    for (i in pairedRep) {
        if (plo == 0 || pairedRep[i] < plo) plo = pairedRep[i]
        if (pairedRep[i] > phi) phi = pairedRep[i]
    }
    if (paired < 0.87) { verdict = "MISSED"; missed++ }
    else if (plo > 0 && plo < 0.87) { verdict = "noisy"; noisy++ }
    else { verdict = "met"; met++ }
    line(sprintf("  %-44s %14s %14s %6.2f %13s  %-7s %s", "  the same, paired", "", "", paired,
                 plo > 0 ? sprintf("%.2f-%.2f", plo, phi) : "-", ">= 0.87", verdict))
}

# Prints a table line without trailing blanks.
function line(text) {
    sub(/ +$/, "", text)
    print text
}

function header(title) {
    printf "\n%s\n", title
    line(sprintf("  %-44s %14s %14s %6s %11s  %-7s", "figure", "measured", "compared with", "ratio",
                 "min-max", "target"))
}

END {
    # The process figures, when bench_process ran (bench.sh descriptor runs
    # the descriptor benchmarks alone).
    if (have("bench_process") || !have("bench_load/1000")) {
        need = "bench_process bench_process_floor bench_process_fflush bench_process_spdlog"
        n = split(need, names, " ")
        for (i = 1; i <= n; i++)
            if (!have(names[i])) {
                print "ratio_table: no median for " names[i] " (run with repetitions)" > "/dev/stderr"
                exit 1
            }

        header("Processing a message, each line in the kernel when the call returns (throughput; ratio = peer time / library time)")
        p = t["bench_process"]
        row("ProcessError, cached, LOG  vs the floor", rate(p), rate(t["bench_process_floor"]),
            "bench_process_floor", "bench_process", ">=", 0.87)
        if (paired > 0) pairedRow()
        print "  (the floor: bytes by hand, one write(2); target: library time at most"
        print "  1.15x the floor's, i.e. ratio >= 0.87; \"paired\": the two in"
        print "  alternating batches of one repetition, the steadier measure)"
        row("  vs fputs + fflush", rate(p), rate(t["bench_process_fflush"]),
            "bench_process_fflush", "bench_process", ">=", 1.0)
        row("  vs spdlog, flush_on(trace)", rate(p), rate(t["bench_process_spdlog"]),
            "bench_process_spdlog", "bench_process", ">=", 1.0)
        if (have("bench_process_glog"))
            row("  vs glog, logbuflevel -1", rate(p), rate(t["bench_process_glog"]),
                "bench_process_glog", "bench_process", ">=", 1.0)
        if (have("bench_process_records/iterations:1"))
            row("ProcessError, cached, LOG, records on  vs off", rate(t["bench_process_records/iterations:1"]),
                rate(p), "bench_process_records/iterations:1", "bench_process", "<=", 1.5)
        if (have("bench_process_spdlog_fields"))
            row("  vs spdlog formatting the fields too", rate(p), rate(t["bench_process_spdlog_fields"]),
                "bench_process_spdlog_fields", "bench_process", "", 0)
        if (have("bench_process_uncached")) {
            u = t["bench_process_uncached"]
            row("ProcessError, not cached  vs the floor", rate(u), rate(t["bench_process_floor"]),
                "bench_process_floor", "bench_process_uncached", "", 0)
            row("ProcessError, not cached  vs cached", rate(u), rate(p), "bench_process",
                "bench_process_uncached", "", 0)
        }
        if (have("bench_process_stdout_silenced") && have("bench_process_stdout_printed")) {
            printf "\nThe repetition limit (cost; ratio = silenced time / printed time)\n"
            row("STDOUT message silenced  vs printed", nanos(t["bench_process_stdout_silenced"]),
                nanos(t["bench_process_stdout_printed"]), "bench_process_stdout_silenced",
                "bench_process_stdout_printed", "<=", 0.3)
        }
    }

    if (have("bench_get_message") || have("bench_user_message"))
        header("Retrieved and user messages (throughput; ratio = peer time / library time)")
    if (have("bench_get_message") && have("bench_get_message_naive"))
        row("Get_ErrorMessage  vs hand-written text", rate(t["bench_get_message"]),
            rate(t["bench_get_message_naive"]), "bench_get_message_naive", "bench_get_message",
            "", 0)
    if (have("bench_user_message") && have("bench_user_message_naive"))
        row("DisplayUserMessage, REPORT  vs hand-written", rate(t["bench_user_message"]),
            rate(t["bench_user_message_naive"]), "bench_user_message_naive", "bench_user_message",
            ">=", 1.0)

    split("1000 10000 100000 1000000", sizes, " ")
    label["1000"] = "1k"; label["10000"] = "10k"; label["100000"] = "100k"; label["1000000"] = "1M"
    if (have("bench_load/1000")) {
        header("Loading a descriptor (time; ratio = load / (MD5 + directory copy))")
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            if (!have("bench_load/" z) || !have("bench_load_floor/" z)) continue
            big = z + 0 >= 100000
            row("load " label[z] " messages  vs floor", ms(t["bench_load/" z]),
                ms(t["bench_load_floor/" z]), "bench_load/" z, "bench_load_floor/" z,
                big ? "<=" : "", 1.15)
        }
        for (i = 3; i <= 4; i++) {
            z = sizes[i]
            fresh = "bench_load_fresh_memory/" z
            if (!have(fresh) || !have("bench_load_floor/" z)) continue
            row("load " label[z] ", pages new to the machine", ms(t[fresh]),
                ms(t["bench_load_floor/" z]), fresh, "bench_load_floor/" z, "", 0)
        }
        print "  (a load runs on memory the machine has backed; the last rows take the"
        print "  pages a new process gets, which this machine's host may have to back"
        print "  again first; see docs/performance-log.md)"
    }
    if (have("bench_lookup_hit/1000")) {
        header("Message whose entry is cached or not (Get_ErrorMessage; time per message)")
        h0 = t["bench_lookup_hit/1000"]
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            if (!have("bench_lookup_hit/" z)) continue
            hit = "bench_lookup_hit/" z
            h = t[hit]
            row("hit " label[z] "  vs hit 1k", nanos(h), nanos(h0), hit, "bench_lookup_hit/1000",
                i > 1 ? "<=" : "", 1.1)
            if (have("bench_lookup_miss/" z))
                row("miss " label[z] " (32 in turn)  vs hit", nanos(t["bench_lookup_miss/" z]),
                    nanos(h), "bench_lookup_miss/" z, hit, "<=", 1.6)
            if (have("bench_lookup_miss_random/" z))
                row("miss " label[z] " (all, random order)  vs hit",
                    nanos(t["bench_lookup_miss_random/" z]), nanos(h),
                    "bench_lookup_miss_random/" z, hit, z == "1000000" ? "<=" : "", 4)
        }
        print "  (the 1.6x target is set on the 32-in-turn miss at every size, the 4x"
        print "  target on the random-order miss over 1M messages, which also misses"
        print "  the CPU caches; see docs/performance-log.md)"
    }
    if (have("bench_lookup_raw_hit/1000")) {
        header("The lookup alone (errm_LookupEntry; time per lookup)")
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            hit = "bench_lookup_raw_hit/" z
            h = t[hit]
            if (have("bench_lookup_raw_miss/" z))
                row("miss " label[z] " (32 in turn)  vs hit", nanos(t["bench_lookup_raw_miss/" z]),
                    nanos(h), "bench_lookup_raw_miss/" z, hit, "", 0)
            if (have("bench_lookup_raw_miss_random/" z))
                row("miss " label[z] " (all, random order)  vs hit",
                    nanos(t["bench_lookup_raw_miss_random/" z]), nanos(h),
                    "bench_lookup_raw_miss_random/" z, hit, "", 0)
        }
    }
    printf "\ntargets met: %d, noisy: %d, missed: %d\n", met, noisy, missed
    if (load_before != "" || load_after != "")
        printf "load average (1, 5, 15 min) before: %s; after: %s\n", load_before, load_after
}
