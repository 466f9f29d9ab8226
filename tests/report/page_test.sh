#!/usr/bin/env bash
# Loads errm-report's page in headless chromium: records of three ranks (one
# with a cut last line, one with text that needs escaping in HTML), the page's
# script must run with no console message, and the table hold one row per id.
# Usage: page_test.sh ERRM_REPORT CHROMIUM
set -uo pipefail
report=$1 chromium=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work" || exit 1
record() { # RANK SECOND ID NUMBER SEVERITY TEXT
  printf '{"time":"2026-12-07T21:03:%02d.000100Z","host":"n1","pid":%d,"rank":%d,"size":4,"thread":1,"run":"page","kind":"message","subsystem":"SIM","display":"Simulator","number":%d,"id":"%s","severity":"%s","text":"%s","template":"","args":[],"count":1,"channels":["LOG"]}\n' \
    "$2" $((100 + $1)) "$1" "$4" "$3" "$5" "$6"
}
{ record 0 1 SIM-0040 40 WARNING 'step 1 rejected'; record 0 2 SIM-37 37 ERROR 'cannot open \"<mesh>\" & retry'; } > run.0.json
{ record 1 1 SIM-0040 40 WARNING 'step 1 rejected'; record 1 3 SIM-0099 99 FATAL 'diverged'; printf '{"time":"2026'; } > run.1.json
record 3 4 SIM-0040 40 WARNING 'step 9 rejected' > run.3.json
"$report" html run.*.json -o run.html 2> html.err || fail "html: $(cat html.err)"
grep -q 'run.1.json) ends with a line without line feed' html.err || fail "no note: $(cat html.err)"
timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 \
  --dump-dom "file://$work/run.html" > dom.html 2> chromium.err || fail "chromium: $(tail -3 chromium.err)"
grep -q 'id="status" data-state="ready"' dom.html || fail "the page's script did not run"
grep -q '3 of 3 messages shown' dom.html || fail "the filters did not run"
! grep -q ':CONSOLE' chromium.err || fail "console: $(grep ':CONSOLE' chromium.err)"
[ "$(grep -o '<tr data-id="[^"]*"' dom.html | tr '\n' ' ')" = \
  '<tr data-id="SIM-0099" <tr data-id="SIM-37" <tr data-id="SIM-0040" ' ] || fail "rows: $(grep -o '<tr data-id="[^"]*"' dom.html)"
grep -q 'cannot open "&lt;mesh&gt;" &amp; retry' dom.html || fail "the text is not escaped as HTML"
grep -q 'data-rank="2" data-worst="no record"' dom.html || fail "rank 2 of 4 is not drawn"
grep -q 'class="fatal-mark"' dom.html || fail "the fatal message is not marked on the timeline"
echo "page ok"
