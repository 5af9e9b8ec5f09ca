#!/usr/bin/env bash
# Load, save and resident memory of a large job database (100,000 jobs by
# default): the database is made once, then opened and saved in a fresh
# process RUNS times (3 by default); prints the medians.
#
# usage: bench/database.sh [build-dir]   (JOBS=100000, RUNS=3)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bench=$(realpath "${1:-$here/../build}")/bench/fetchora_bench_database
jobs=${JOBS:-100000}
runs=${RUNS:-3}
[ -x "$bench" ] || { echo "$bench not found (configure with -DFETCHORA_BUILD_BENCH=ON and build it)" >&2; exit 2; }
work=$(mktemp -d /tmp/fetchora-database.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$bench" "$jobs" "$work" > /dev/null
loads=() saves=() rss=()
for ((i = 1; i <= runs; i++)); do
  out=$("$bench" "$jobs" "$work")
  loads+=("$(awk '/^load_ms/ { print $2 }' <<< "$out")")
  saves+=("$(awk '/^save_ms/ { print $2 }' <<< "$out")")
  rss+=("$(awk '/^resident_after_load_MiB/ { print $2 }' <<< "$out")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "$jobs jobs, $(stat -c %s "$work/Default.kxd") bytes"
echo "load_ms     $(median "${loads[@]}")  (target <= 300)"
echo "save_ms     $(median "${saves[@]}")  (target <= 300)"
echo "resident_MiB $(median "${rss[@]}")  (target <= 40)"
