#!/usr/bin/env bash
# The README's commands and sample outputs, run against this build in a
# scratch folder that stands for the project root (with its own $HOME):
# 1. the quick start as written (its sh blocks, in order), whose client
#    output must be the one the README shows;
# 2. every plain block whose first line starts with "$ ": its "$ " lines
#    are run in order in one shell (from the project root), and the block
#    must be exactly what they print after their "$ " line. A "$ cat FILE"
#    whose file does not exist writes the FILE the block shows first;
# 3. the example simulator's standard output and CHI stream, as the
#    README's first command (the run-example target) gives them.
# The "$ " lines run with the quick start's PATH (its prefix's bin first).
# Masked on both sides: carriage returns (a user message's \n is CR LF), dates (YYYY/MM/DD), the temporary file of a command
# (tmp_HH_MM_SS_PID.tmp); the run's source and build folders stand for the
# README's /work/main and /work/main/build. A trace folder /tmp in a command
# is replaced by a scratch folder.
set -euo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build_dir" "$work/build"
ln -s "$source_dir/examples" "$work/examples"
mkdir "$work/home" "$work/trace"
readme="$source_dir/README.md"
mask() {
  tr -d '\r' | sed -E -e "s|$build_dir|/work/main/build|g" -e "s|$source_dir|/work/main|g" \
         -e 's|[0-9]{4}/[0-9]{2}/[0-9]{2}|YYYY/MM/DD|g' \
         -e 's|tmp_[0-9]{2}_[0-9]{2}_[0-9]{2}_[0-9]+\.tmp|tmp_HH_MM_SS_PID.tmp|g'
}
fail=0
differs() { # name, got, want
  echo "README sample differs: $1"; diff <(echo "$3") <(echo "$2") || true; fail=1
}

# 1. The quick start.
section=$(sed -n '/^## Quick start/,/^## When a call fails/p' "$readme")
blocks() { # the lines of the blocks opened by the fence $1
  echo "$section" | awk -v fence="$1" '/^```/ { if (open) open = 0; else { open = 1; want = ($0 == fence) }; next }
                                        open && want'
}
script=$(blocks '```sh')
shown=$(blocks '```' | tail -3)
out=$(cd "$work" && HOME="$work/home" bash -euo pipefail -c "$script" 2>&1)
# The pkg-config client, the Python script, then the CMake client: the same
# three lines each.
got=$(echo "$out" | grep -A2 '^\*\* Error' | grep -v '^--$')
[ "$got" = "$(printf '%s\n%s\n%s' "$shown" "$shown" "$shown")" ] || differs "quick start" "$out" "$shown"
# The Python script's output as shown, "[...]" standing for the traceback.
python=$(blocks '```text' | grep -vxF '[...]')
echo "$out" | awk -v want="$python" 'BEGIN { n = split(want, w, "\n"); i = 1 }
                                    i <= n && $0 == w[i] { i++ } END { exit i <= n }' ||
  differs "Python quick start" "$out" "$python"

# 2. The "$ " blocks, each split into work/sample.N.
awk -v dir="$work" '/^```/ { if (open) { open = 0; if (f != "") close(f) }
                                else { open = 1; f = ($0 == "```") ? sprintf("%s/sample.%02d", dir, ++n) : "" }
                                next }
                    open && f != "" { print > f }' "$readme"
samples=0
for block in "$work"/sample.*; do
  head -1 "$block" | grep -q '^\$ ' || continue
  samples=$((samples + 1))
  script="$work/script.sh"
  : > "$script"
  while IFS= read -r line; do
    case $line in
      '$ '*) cmd=${line#'$ '}
             printf 'printf "%%s\\n" %q\n' "$line" >> "$script"
             file=${cmd#cat }
             if [ "$cmd" != "$file" ] && [ ! -e "$work/$file" ]; then
               awk -v l="$line" 'found && /^\$ / {exit} found; $0 == l {found = 1}' "$block" \
                 > "$work/$file"
             fi
             printf '%s 2>&1 || true\n' "${cmd//\/tmp;/$work/trace;}" >> "$script" ;;
    esac
  done < "$block"
  got=$(cd "$work" && HOME="$work/home" PATH="$work/home/errm/bin:$PATH" bash "$script" 2>&1 | mask)
  want=$(mask < "$block")
  [ "$got" = "$want" ] || differs "$(head -1 "$block")" "$got" "$want"
done
[ "$samples" -ge 4 ] || { echo "only $samples command samples found"; exit 1; }

# 3. The example simulator: the block after "this is its standard output",
# and the CHI lines after "the CHI stream".
after() { awk -v p="$1" 'index($0, p) {seen = 1} seen && /^```$/ {if (open) exit; open = 1; next} open' "$readme"; }
run=$(cmake --build "$build_dir" --target run-example 2>&1 |
      grep -v -E '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\]|^(-- (Configuring|Generating|Build files)|Scanning|Consolidate|Built target|make)' | mask)
want=$(after 'its standard output:' | mask)
[ "$run" = "$want" ] || differs "example simulator" "$run" "$want"
chi=$(mask < "$build_dir/simulator-run/run.chi")
want=$(after 'stream `run.chi`:' | mask)
[ "$chi" = "$want" ] || differs "run.chi" "$chi" "$want"
[ "$fail" -eq 0 ]
echo "README samples ok ($samples command samples)"
