#!/usr/bin/env bash
# Fails when an ELF file under the given folders (or given as a file) has an
# RPATH or RUNPATH entry that the loader would resolve against the current
# folder: an empty entry, or one that is neither absolute nor relative to
# $ORIGIN. A module loaded by bare name would otherwise be taken from
# wherever the process happens to run.
#
#   check_runpaths.sh [--prune DIR]... PATH...
#
# --prune leaves out a folder that holds files the build did not make.
set -euo pipefail

prune=()
while [ "${1:-}" = --prune ]; do
    prune+=(-path "${2:?folder}" -prune -o)
    shift 2
done
[ $# -gt 0 ] || { echo "usage: $0 [--prune DIR]... PATH..." >&2; exit 2; }

elf=0
with_path=0
bad=0
while IFS= read -r -d '' file; do
    [ "$(LC_ALL=C head -c 4 "$file")" = $'\x7fELF' ] || continue
    elf=$((elf + 1))
    while IFS=' ' read -r kind value; do
        with_path=$((with_path + 1))
        echo "$file: $kind [$value]"
        problem=
        case $value in
        '' | :* | *: | *::*) problem="an empty entry" ;;
        esac
        IFS=: read -ra entries <<<"$value"
        for entry in "${entries[@]}"; do
            case $entry in
            '' | /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
            *) problem="${problem:+$problem, }the relative entry '$entry'" ;;
            esac
        done
        if [ -n "$problem" ]; then
            echo "  FAILS: $problem (the loader resolves it against the current folder)"
            bad=$((bad + 1))
        fi
    done < <(LC_ALL=C readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RPATH\|RUNPATH\)).*: \[\(.*\)\]$/\1 \2/p')
done < <(find "$@" "${prune[@]}" -type f -print0)

echo "$elf ELF files, $with_path RPATH or RUNPATH entries, $bad with an entry read as the current folder"
[ "$elf" -gt 0 ] || { echo "no ELF file found" >&2; exit 1; }
[ "$bad" -eq 0 ]
