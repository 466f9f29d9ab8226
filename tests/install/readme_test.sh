#!/usr/bin/env bash
# Runs the README's quick start as written (its sh blocks, in order) against
# this build, in a scratch folder standing for the project root with its own
# $HOME, and compares the client's output with the output the README shows.
set -euo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build_dir" "$work/build"
ln -s "$source_dir/examples" "$work/examples"
mkdir "$work/home"
section=$(sed -n '/^## Quick start/,/^## When a call fails/p' "$source_dir/README.md")
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
[ "$got" = "$(printf '%s\n%s\n%s' "$shown" "$shown" "$shown")" ] || { echo "$out"; exit 1; }
# The Python script's output as shown, "[...]" standing for the traceback.
python=$(blocks '```text' | grep -vxF '[...]')
echo "$out" | awk -v want="$python" 'BEGIN { n = split(want, w, "\n"); i = 1 }
                                    i <= n && $0 == w[i] { i++ } END { exit i <= n }' ||
  { echo "$out"; exit 1; }
echo "quick start ok"
