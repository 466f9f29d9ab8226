#!/usr/bin/env bash
# Checks that the library's layers meet only downward, through headers:
#   platform < base < descriptor < reports < api
# A file may include headers of its own folder and of the folders below it.
# An object or function of another layer is reached through its header,
# never through an `extern` declaration written in a source file (which the
# include check would not see). A header may declare an object that a layer
# above defines for it (errm_Sink): that is the header's interface.
# Prints each violation and exits 1 when there is one.
set -euo pipefail
shopt -s nullglob
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

# extern declarations in source files (not extern "C" blocks or linkage
# specifications): the declared name is the last identifier before '[', '='
# or ';'. A name defined in a file of another layer is an arrow between
# layers that no include shows.
externs=0
while IFS=: read -r file _ decl; do
  name=$(printf '%s\n' "$decl" | sed -E 's/\[.*//; s/[;=].*//; s/[[:space:]]+$//; s/.*[^A-Za-z0-9_]//')
  [ -n "$name" ] || continue
  externs=$((externs + 1))
  layer=$(basename "$(dirname "$file")")
  # A definition: the name at the start of a declarator, not behind "extern".
  while IFS= read -r def; do
    [ "$def" = "$file" ] && continue
    theirs=$(basename "$(dirname "$def")")
    if [ "$theirs" != "$layer" ]; then
      echo "$file declares extern $name, defined in $def: $layer reaches $theirs without its header"
      bad=1
    fi
  done < <(grep -HE "^[A-Za-z_][A-Za-z0-9_:<>, *&]*[ *&]$name[[:space:]]*(\[[^]]*\][[:space:]]*)*(=|;|\{)" \
             "$src"/*/*.cpp | grep -vE '^[^:]*:[[:space:]]*extern[[:space:]]' | cut -d: -f1 | sort -u)
done < <(grep -nE '^[[:space:]]*extern[[:space:]]+[^"[:space:]]' "$src"/*/*.cpp || true)

echo "$checked includes and $externs extern declarations checked"
exit $bad
