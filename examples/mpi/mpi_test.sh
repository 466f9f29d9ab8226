#!/usr/bin/env bash
# Runs the heat solver on 8 ranks under mpirun, records on, and checks what
# the aborted run left: a report file and a record file per rank, the FATAL
# line and record on the failing rank's files only, every record complete and
# valid (read by check_records with a general JSON parser), errm-report's
# summary agreeing with those records id by id, and its page loading in
# chromium (when installed) with every row and no console message.
# Usage: mpi_test.sh MPIRUN HEAT DESCRIPTOR_DIR ERRM_REPORT CHECK_RECORDS [CHROMIUM]
set -uo pipefail
mpirun=$1 heat=$2 desc=$3 report=$4 check=$5 chromium=${6:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work" || exit 1
root=()
[ "$(id -u)" -eq 0 ] && root=(--allow-run-as-root)

ORV_VCO=ixl HEAT_FAIL_RANK=5 ERRM_OPTIONS="json=$work/run.json,run=heat-test" \
  "$mpirun" --oversubscribe "${root[@]}" -np 8 "$heat" "$work" "$desc/" > mpirun.out 2>&1
status=$?
[ "$status" -ne 0 ] || fail "mpirun ended with 0, the run was to be aborted"
ranks="run.0 run.1 run.2 run.3 run.4 run.5 run.6 run.7"

# One report file and one record file per rank, named by the rank.
[ "$(ls run.*.log | sort | tr '\n' ' ')" = "$(printf '%s.log ' $ranks)" ] ||
  fail "report files: $(ls)"
[ "$(ls run.*.json | sort | tr '\n' ' ')" = "$(printf '%s.json ' $ranks)" ] ||
  fail "record files: $(ls)"

# The FATAL line and record are on rank 5's files and nowhere else.
fatal='^\*\* Fatal: (Heat solver - HEAT-0090) sweep 30: solution diverged'
[ "$(grep -l "$fatal" run.*.log)" = "run.5.log" ] || fail "FATAL line: $(grep -l "$fatal" run.*.log)"
grep -q "$fatal" run.5.rep || fail "FATAL line not in run.5.rep"
[ "$(grep -l '"HEAT-0090"' run.*.json)" = "run.5.json" ] &&
  grep '"HEAT-0090"' run.5.json | grep -q '"severity": *"FATAL"' ||
  fail "FATAL record: $(grep -l '"HEAT-0090"' run.*.json)"

# Every record valid, and errm-report's summary agreeing with it id by id.
"$report" summary --json run.*.json > summary.json 2> summary.err || fail "summary: $(cat summary.err)"
"$check" --summary summary.json run.*.json > tally.txt || fail "records or summary, see above"
# The ids of the synchronised part have exact counts; the sweeps run until
# the abort, so at least the 10 every rank writes first and rank 5's 30.
for want in "HEAT-1 8 0-7" "HEAT-0020 160 0-7" "HEAT-0021 16 0,2,4,6" "HEAT-0090 1 5"; do
  grep -qx "$want" tally.txt || fail "expected '$want' in: $(cat tally.txt)"
done
sweeps=$(awk '$1 == "HEAT-0030" && $3 == "0-7" {print $2}' tally.txt)
[ -n "$sweeps" ] && [ "$sweeps" -ge 100 ] || fail "sweeps: $(cat tally.txt)"
[ "$(wc -l < tally.txt)" -eq 5 ] || fail "ids: $(cat tally.txt)"

# The merged stream: every record, rank 5's FATAL line among them.
"$report" merge run.*.json > merged.txt || fail "merge"
grep -q '^\[5\] \*\* Fatal: (Heat solver - HEAT-0090)' merged.txt || fail "merged FATAL line"

# The page, its links into the catalogue's reference, and chromium loading it.
cp "$desc/messages.html" .
"$report" html run.*.json -o run.html --doc messages.html || fail "html"
grep -q '<h1>Run heat-test</h1>' run.html || fail "the ranks do not share the run's name"
for anchor in $(grep -o 'href="messages.html#[^"]*"' run.html | sed 's/.*#//; s/"//'); do
  grep -q "id=\"$anchor\"" messages.html || fail "no anchor $anchor in the reference"
done
[ "$(grep -c 'href="messages.html#' run.html)" -eq 5 ] || fail "links: $(grep -c 'href="messages.html#' run.html)"
if [ -n "$chromium" ]; then
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 \
    --dump-dom "file://$work/run.html" > dom.html 2> chromium.err || fail "chromium: $(tail -3 chromium.err)"
  grep -q 'id="status" data-state="ready"' dom.html || fail "the page's script did not run"
  grep -q '5 of 5 messages shown' dom.html || fail "the filters did not run"
  ! grep -q ':CONSOLE' chromium.err || fail "console: $(grep ':CONSOLE' chromium.err)"
  [ "$(grep -o '<tr data-id="[^"]*"' dom.html | sort | tr '\n' ' ')" = \
    '<tr data-id="HEAT-0020" <tr data-id="HEAT-0021" <tr data-id="HEAT-0030" <tr data-id="HEAT-0090" <tr data-id="HEAT-1" ' ] ||
    fail "rows: $(grep -o '<tr data-id="[^"]*"' dom.html)"
else
  echo "chromium not found: the page was not loaded in a browser"
fi
echo "mpi run ok: 8 ranks, $(cat run.*.json | wc -l) records, mpirun status $status"
