#!/usr/bin/env bash
# Checks that the library's includes run downward only:
#   platform < base < descriptor < reports < api
# A file may include headers of its own folder and of the folders below it.
# Prints each include that runs upward and exits 1 when there is one.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
rank() {
  case "$1" in
    platform) echo 0 ;; base) echo 1 ;; descriptor) echo 2 ;; reports) echo 3 ;; api) echo 4 ;;
    *) echo -1 ;;
  esac
}
bad=0
checked=0
for file in "$src"/*/*.cpp "$src"/*/*.h; do
  layer=$(basename "$(dirname "$file")")
  own=$(rank "$layer")
  if [ "$own" -lt 0 ]; then echo "$file: folder '$layer' is not a layer"; bad=1; continue; fi
  while IFS= read -r inc; do
    target=${inc%%/*}
    theirs=$(rank "$target")
    checked=$((checked + 1))
    if [ "$theirs" -lt 0 ] || [ "$theirs" -gt "$own" ]; then
      echo "$file includes \"$inc\": $layer may not include $target"
      bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done
echo "$checked includes checked"
exit $bad
