#!/usr/bin/env bash
# pip install --no-build-isolation of python/ with Debian's setuptools, into a
# virtual environment that sees the system's packages and no registry: the
# installed package holds errmc's table of result codes and runs a message
# through the library that the system loader finds.
set -euo pipefail
source_dir=$1 library=$2 errmc=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source_dir/python" "$work/src"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
ERRM_ERRMC=$errmc "$work/venv/bin/python" -m pip install -q --no-build-isolation --no-index \
  "$work/src" >/dev/null
"$errmc" compile "$source_dir/tests/install/app.toml" -o "$work/catalogues" >/dev/null
# No ERRM_LIBRARY and no prefix: the system loader finds the library.
out=$(cd "$work" && env -u PYTHONPATH -u ERRM_LIBRARY LD_LIBRARY_PATH="$(dirname "$library")" \
      ORV_VCO=ixl ERRM_ERRMC="$errmc" \
      "$work/venv/bin/python" -c '
import errm
assert errm.__file__.startswith("'"$work/venv"'"), errm.__file__
with errm.session(descriptor_root="catalogues") as s:
    s.load("APP").process(7, "pip", 1)
    try:
        s.load("NONE")
    except errm.OpenError as e:
        print(e.name)')
[ "$out" = "$(printf '%s\n%s' "** Note: (APP - 7) started pip with 1 workers" ERRM_ERR_OPEN)" ] ||
  { echo "pip-installed package printed: $out"; exit 1; }
echo "pip install ok"
