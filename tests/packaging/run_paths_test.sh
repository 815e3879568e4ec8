#!/usr/bin/env bash
# Every program and library of a tree finds its libraries through run path
# entries relative to itself, and through nothing else: an empty entry
# would make the loader search the current directory, so that a library
# left there would be loaded into the program.
#   run_paths_test.sh <tree> [<folder> ...]     (folders default: bin lib tools)
set -uo pipefail
tree=$1
shift
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(bin lib tools)
status=0
checked=0
for folder in "${folders[@]}"; do
  [ -d "$tree/$folder" ] || continue
  while IFS= read -r -d '' file; do
    head -c 4 "$file" 2>/dev/null | grep -q 'ELF' || continue
    checked=$((checked + 1))
    path=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p')
    [ -n "$path" ] || continue
    IFS=':' read -r -a entries <<<"$path:"
    # The read above drops one trailing empty field; "$path:" keeps the others.
    for entry in "${entries[@]}"; do
      case "$entry" in
        '$ORIGIN'|'$ORIGIN/'*) ;;
        *) echo "${file#"$tree"/}: run path entry '$entry' in [$path]" >&2; status=1 ;;
      esac
    done
  done < <(find "$tree/$folder" -type f -print0)
done
[ "$checked" -gt 0 ] || { echo "no programs or libraries under $tree" >&2; exit 1; }
echo "$checked files checked"
exit $status
