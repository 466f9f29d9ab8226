#!/usr/bin/env bash
# errmc_scale.sh ERRMC [N...] - times errmc doc and diff end to end (reading
# TOML sources and descriptors) on generated catalogues of N messages
# (default 25000 50000 100000), to show that the time grows linearly.
# Prints CPU seconds.
# The second version of each catalogue changes one message in ten.
set -euo pipefail
errmc=$(realpath "$1"); shift
sizes=("${@:-25000 50000 100000}")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"

generate() { # N LATER
  awk -v n="$1" -v later="$2" 'BEGIN {
    printf "subsystem = \"BIG\"\nstamp = \"v%d\"\n", later + 1
    for (i = 0; i < n; i++) {
      num = i * 2; fmt = "step %d of <%s>: residual %.3e after %lu sweeps"
      if (later && i % 10 == 1) fmt = "step %d of <%s>: residual %.4e after %lu sweeps"
      if (later && i % 10 == 3) fmt = "step %ld of <%s>: residual %.3e after %lu sweeps"
      if (later && i % 10 == 5) num += 1
      printf "\n[[message]]\nnumber = %d\nname = \"MESSAGE_%d\"\nseverity = \"ERROR\"\n", num, i
      printf "format = \"%s\"\nreports = [\"STDOUT\", \"LOG\"]\nsee = \"manual, section %d\"\n", fmt, i % 40
    }
  }'
}

# CPU seconds (user + system) of a command: on a shared machine the elapsed
# time says more about the other processes than about errmc.
seconds() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.2f", $1 + $2 }'; }

printf "%8s %10s %10s %10s %10s %12s\n" messages compile doc-md doc-html diff-src diff-bin
for n in ${sizes[@]}; do
  generate "$n" 0 > old.toml
  generate "$n" 1 > new.toml
  c=$(seconds "$errmc" compile old.toml -o .)
  md=$(seconds "$errmc" doc old.toml -o ref.md)
  html=$(seconds "$errmc" doc errm_desc_BIG.bin --format html -o ref.html)
  ds=$(seconds sh -c "'$errmc' diff old.toml new.toml; true")
  db=$(seconds sh -c "'$errmc' diff errm_desc_BIG.bin new.toml --json; true")
  printf "%8d %9ss %9ss %9ss %9ss %11ss\n" "$n" "$c" "$md" "$html" "$ds" "$db"
done
