#!/usr/bin/env bash
# Runs the heat solver on 8 ranks in RUN_DIR with records on, then writes the
# run's summary and page: run.*.log, run.*.json, summary.txt, run.html.
# Usage: run.sh MPIRUN HEAT DESCRIPTOR_DIR ERRM_REPORT RUN_DIR
set -uo pipefail
mpirun=$1 heat=$2 desc=$3 report=$4 dir=$5
root=()
[ "$(id -u)" -eq 0 ] && root=(--allow-run-as-root)
rm -f "$dir"/run.*
cd "$dir" || exit 1
ORV_VCO=ixl ERRM_OPTIONS="json=$dir/run.json,run=heat-demo" \
  "$mpirun" --oversubscribe "${root[@]}" -np 8 "$heat" "$dir" "$desc/"
echo "mpirun: exit status $? (the run was aborted by one rank)"
"$report" summary "$dir"/run.*.json | tee summary.txt
cp "$desc/messages.html" "$dir/"
"$report" html "$dir"/run.*.json -o run.html --doc messages.html
echo "page: $dir/run.html"
