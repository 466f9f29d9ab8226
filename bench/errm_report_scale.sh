#!/usr/bin/env bash
# errm_report_scale.sh ERRM_REPORT [FILES [RECORDS]] - times errm-report
# summary over a generated run of FILES record files (default 1000, one per
# rank) of RECORDS records each (default 10000): the full run, then a quarter
# and a half of its files, to show that the time grows linearly with the
# records. Prints CPU and elapsed seconds. The run takes about 400 bytes a
# record on disk (4 GB at the defaults) in a temporary folder.
set -euo pipefail
report=$(realpath "$1")
files=${2:-1000}
records=${3:-10000}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"

# Records as the library writes them: warnings that every rank repeats, a
# few errors on some ranks, one fatal message; texts with escapes.
awk -v files="$files" -v records="$records" 'BEGIN {
  for (r = 0; r < files; r++) {
    out = sprintf("run.%0" length(files - 1) "d.json", r)
    for (i = 0; i < records; i++) {
      n = (i % 50 == 0 && r % 7 == 0) ? 37 : (i % 3 == 0 ? 40 : 41)
      sev = n == 37 ? "ERROR" : "WARNING"; num = n == 37 ? 17 : 13
      if (r == 3 && i == records - 1) { n = 99; sev = "FATAL"; num = 21 }
      us = i * 1000 + r
      printf "{\"time\":\"2026-12-07T21:%02d:%02d.%06dZ\",\"host\":\"node%03d\",\"pid\":%d,", \
        int(us / 60000000) % 60, int(us / 1000000) % 60, us % 1000000, r % 128, 10000 + r > out
      printf "\"rank\":%d,\"size\":%d,\"thread\":1,\"run\":\"bench\",\"kind\":\"message\",", r, files > out
      printf "\"subsystem\":\"SIM\",\"display\":\"Simulator\",\"number\":%d,\"id\":\"SIM-%04d\",", n, n > out
      printf "\"severity\":\"%s\",\"severity_number\":%d,", sev, num > out
      printf "\"text\":\"step %d rejected on \\\"mesh %d\\\", retrying with dt=%g\",", i, r, 0.5 / (i + 1) > out
      printf "\"template\":\"step %%d rejected on \\\"mesh %%d\\\", retrying with dt=%%g\",\"args\":[%d,%d,%g],", i, r, 0.5 / (i + 1) > out
      printf "\"count\":%d,\"channels\":[\"STDOUT\",\"LOG\"]}\n", i + 1 > out
    }
    close(out)
  }
}'
echo "generated $(du -sh . | cut -f1) in $files files of $records records"

# CPU seconds (user + system) and elapsed seconds of a command.
seconds() { /usr/bin/time -f "%U %S %e" "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%6.2f %8.2f", $1 + $2, $3 }'; }

all=(run.*.json)
printf "%8s %12s %8s %8s\n" files records cpu-s wall-s
for part in 4 2 1; do
  n=$((files / part))
  printf "%8d %12d %s\n" "$n" $((n * records)) "$(seconds "$report" summary "${all[@]:0:n}")"
done
