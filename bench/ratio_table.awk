# ratio_table.awk - reads the JSON files that the benchmarks write with
# --benchmark_out_format=json and --benchmark_repetitions (aggregates), and
# prints the ratio table of docs/performance.md.
#
# Every figure is the median over the repetitions of one run. Times are CPU
# times of the measuring thread (for the loads and their floor, the manual
# time, itself the CPU time of the thread that loads; see
# bench_descriptor.cpp), converted to nanoseconds.
#
# Usage: awk -f ratio_table.awk process.json descriptor.json

# ------------------------------------------------------------ reading JSON

/^ *{ *$/ { run = ""; agg = ""; cpu = ""; real = ""; unit = ""; next }
/"run_name":/ { run = value($0); next }
/"aggregate_name":/ { agg = value($0); next }
/"cpu_time":/ { cpu = value($0); next }
/"real_time":/ { real = value($0); next }
/"time_unit":/ { unit = value($0); next }
/^ *},? *$/ {
    if (run != "" && agg == "median" && cpu != "") {
        # A manual time (the loads, the floor) is reported as the real time.
        if (sub(/\/manual_time$/, "", run)) t[run] = real * scale(unit)
        else t[run] = cpu * scale(unit)
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

# One row: what, its figure, the figure it is compared with, the ratio, the
# target ("" for none) and whether the ratio meets it (op ">=" or "<=").
function row(what, figure, peer, ratio, op, goal,    verdict, target) {
    verdict = ""
    target = ""
    if (op != "") {
        target = op " " goal
        verdict = (op == ">=" ? ratio >= goal : ratio <= goal) ? "met" : "MISSED"
        if (verdict == "MISSED") missed++
        else met++
    }
    line(sprintf("  %-44s %14s %14s %8.2f  %-7s %s", what, figure, peer, ratio, target, verdict))
}

# Prints a table line without trailing blanks.
function line(text) {
    sub(/ +$/, "", text)
    print text
}

function header(title) {
    printf "\n%s\n", title
    line(sprintf("  %-44s %14s %14s %8s  %-7s", "figure", "measured", "compared with", "ratio",
                 "target"))
}

END {
    need = "bench_process bench_process_naive bench_process_spdlog"
    n = split(need, names, " ")
    for (i = 1; i <= n; i++)
        if (!have(names[i])) {
            print "ratio_table: no median for " names[i] " (run with repetitions)" > "/dev/stderr"
            exit 1
        }

    header("Processing a message (throughput; ratio = peer time / library time)")
    p = t["bench_process"]
    row("ProcessError, cached, LOG  vs hand-written", rate(p), rate(t["bench_process_naive"]),
        t["bench_process_naive"] / p, ">=", 1.5)
    if (have("bench_process_floor")) {
        f = t["bench_process_floor"]
        row("  vs the floor (bytes by hand, one fwrite)", rate(p), rate(f), f / p, ">=", 0.4)
        print "  (floor target: library time at most 2.5x the floor's, i.e. ratio >= 0.40)"
    }
    row("ProcessError, cached, LOG  vs spdlog", rate(p), rate(t["bench_process_spdlog"]),
        t["bench_process_spdlog"] / p, ">=", 1.0)
    if (have("bench_process_spdlog_fields"))
        row("  vs spdlog formatting the fields too", rate(p), rate(t["bench_process_spdlog_fields"]),
            t["bench_process_spdlog_fields"] / p, "", 0)
    if (have("bench_process_uncached")) {
        u = t["bench_process_uncached"]
        row("ProcessError, not cached  vs hand-written", rate(u), rate(t["bench_process_naive"]),
            t["bench_process_naive"] / u, "", 0)
        row("ProcessError, not cached  vs cached", rate(u), rate(p), p / u, "", 0)
    }
    if (have("bench_process_stdout_silenced") && have("bench_process_stdout_printed")) {
        s = t["bench_process_stdout_silenced"]
        q = t["bench_process_stdout_printed"]
        printf "\nThe repetition limit (cost; ratio = silenced time / printed time)\n"
        row("STDOUT message silenced  vs printed", nanos(s), nanos(q), s / q, "<=", 0.3)
    }

    if (have("bench_get_message") || have("bench_user_message"))
        header("Retrieved and user messages (throughput; ratio = peer time / library time)")
    if (have("bench_get_message") && have("bench_get_message_naive"))
        row("Get_ErrorMessage  vs hand-written text", rate(t["bench_get_message"]),
            rate(t["bench_get_message_naive"]),
            t["bench_get_message_naive"] / t["bench_get_message"], "", 0)
    if (have("bench_user_message") && have("bench_user_message_naive"))
        row("DisplayUserMessage, REPORT  vs hand-written", rate(t["bench_user_message"]),
            rate(t["bench_user_message_naive"]),
            t["bench_user_message_naive"] / t["bench_user_message"], "", 0)

    split("1000 10000 100000 1000000", sizes, " ")
    label["1000"] = "1k"; label["10000"] = "10k"; label["100000"] = "100k"; label["1000000"] = "1M"
    if (have("bench_load/1000")) {
        header("Loading a descriptor (time; ratio = load / (MD5 + directory copy))")
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            if (!have("bench_load/" z) || !have("bench_load_floor/" z)) continue
            big = z + 0 >= 100000
            row("load " label[z] " messages  vs floor", ms(t["bench_load/" z]),
                ms(t["bench_load_floor/" z]), t["bench_load/" z] / t["bench_load_floor/" z],
                big ? "<=" : "", 1.1)
        }
    }
    if (have("bench_lookup_hit/1000")) {
        header("Message whose entry is cached or not (Get_ErrorMessage; time per message)")
        h0 = t["bench_lookup_hit/1000"]
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            if (!have("bench_lookup_hit/" z)) continue
            big = z + 0 >= 100000
            h = t["bench_lookup_hit/" z]
            row("hit " label[z] "  vs hit 1k", nanos(h), nanos(h0), h / h0, i > 1 ? "<=" : "", 1.1)
            if (have("bench_lookup_miss/" z))
                row("miss " label[z] " (32 in turn)  vs hit", nanos(t["bench_lookup_miss/" z]),
                    nanos(h), t["bench_lookup_miss/" z] / h, big ? "<=" : "", 2)
            if (have("bench_lookup_miss_random/" z))
                row("miss " label[z] " (all, random order)  vs hit",
                    nanos(t["bench_lookup_miss_random/" z]), nanos(h),
                    t["bench_lookup_miss_random/" z] / h, "", 0)
        }
        print "  (the 2x target is checked on the 32-in-turn miss; a random-order miss"
        print "  over 100k or 1M messages also misses the CPU caches: no target, see"
        print "  docs/performance.md)"
    }
    if (have("bench_lookup_raw_hit/1000")) {
        header("The lookup alone (errm_LookupEntry; time per lookup)")
        for (i = 1; i <= 4; i++) {
            z = sizes[i]
            h = t["bench_lookup_raw_hit/" z]
            if (have("bench_lookup_raw_miss/" z))
                row("miss " label[z] " (32 in turn)  vs hit", nanos(t["bench_lookup_raw_miss/" z]),
                    nanos(h), t["bench_lookup_raw_miss/" z] / h, "", 0)
            if (have("bench_lookup_raw_miss_random/" z))
                row("miss " label[z] " (all, random order)  vs hit",
                    nanos(t["bench_lookup_raw_miss_random/" z]), nanos(h),
                    t["bench_lookup_raw_miss_random/" z] / h, "", 0)
        }
    }
    printf "\ntargets met: %d, missed: %d\n", met, missed
}
