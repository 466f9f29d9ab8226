#!/usr/bin/env bash
# errmc(1) against errmc itself: the commands of `errmc --help` are exactly
# the man page's COMMANDS (one .SS each) and all appear in its SYNOPSIS; the
# options of each `errmc COMMAND --help` are exactly the tags of that
# command's section, and those of `errmc --help` the tags of OPTIONS
# (-h/--help, which every command takes, is listed once, there). errm(3)
# names every function of errm.h (the _variadic twins together). Both pages
# render without a warning.
# Usage: man_test.sh ERRMC ERRMC_1 ERRM_3 ERRM_H
set -euo pipefail
errmc=$1 page=$2 lib_page=$3 header=$4
fail=0
# The tags (the line after each .TP) of the man page's section $1, as plain
# text: a section is ".SS NAME" (a command) or ".SH NAME".
man_options() {
  awk -v want="$1" '/^\.S[SH] / { name = $2; next }
                    name == want && tag { print; tag = 0; next }
                    name == want && /^\.TP/ { tag = 1 }' "$page" |
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' | grep -oE '(^|[ ,])--?[a-z][a-z-]*' |
    sed 's/^[ ,]//' | sort -u
}
# The options of a help text's "Options:" section.
help_options() {
  awk '/^[A-Za-z]+:$/ { opts = ($0 == "Options:" || $0 == "OPTIONS:"); next } opts' |
    sed -E 's/^ +//; s/  .*//' | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | sed 's/^[ ,]//' | sort -u
}
compare() { # what, man's, help's
  [ "$2" = "$3" ] && return 0
  echo "$1: the man page and --help differ (< man, > help):"
  diff <(echo "$2") <(echo "$3") || true
  fail=1
}
commands=$("$errmc" --help | awk '/^[A-Za-z]+:$/ { on = ($0 ~ /^[Ss][Uu][Bb][Cc][Oo][Mm]/); next }
                                  on && NF {print $1}' | sort)
[ -n "$commands" ] || { echo "no commands in errmc --help"; exit 1; }
sections=$(awk '/^\.SH / { in_cmds = ($2 == "COMMANDS") } in_cmds && /^\.SS / {print $2}' "$page" | sort)
compare "commands" "$sections" "$commands"
synopsis=$(awk '/^\.SH / { on = ($2 == "SYNOPSIS") } on && /^\.B errmc [a-z]/ {print $3}' "$page" | sort -u)
compare "commands of the synopsis" "$synopsis" "$commands"
compare "options of errmc" "$(man_options OPTIONS)" "$("$errmc" --help | help_options)"
for c in $commands; do
  compare "options of errmc $c" "$(man_options "$c")" \
          "$("$errmc" "$c" --help | help_options | grep -vxE -- '-h|--help' || true)"
done
lib_text=$(sed 's/\\f[BIRP]//g' "$lib_page")
for f in $(sed -n 's/^ERRM_API .*\b\(ERRM_[A-Za-z_]*\)(.*/\1/p' "$header" | grep -v '_variadic$'); do
  grep -q "\b$f\b" <<< "$lib_text" || { echo "errm(3) does not name $f"; fail=1; }
done
for p in "$page" "$lib_page"; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$p" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || { echo "$p: $warnings"; fail=1; }
done
[ "$fail" -eq 0 ]
echo "man pages ok: $(echo "$commands" | wc -l) commands"
