#!/usr/bin/env bash
# Load, save and resident memory of a large job database (100,000 jobs by
# default): the database is made once, then opened and saved in a fresh
# process RUNS times (3 by default); prints the medians, of wall and CPU
# times (on a shared machine the CPU times vary far less). When fetchora-cli
# is built, its daemon is started on a copy of that database RUNS times as
# well: from the start to its service socket accepting, and from SIGTERM to
# its exit (which saves). The jobs are not started: the daemon keeps
# unfinished jobs waiting at launch.
#
# usage: bench/database.sh [build-dir]   (JOBS=100000, RUNS=3)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
bench=$build/bench/fetchora_bench_database
cli=$build/fetchora-cli
jobs=${JOBS:-100000}
runs=${RUNS:-3}
[ -x "$bench" ] || { echo "$bench not found (configure with -DFETCHORA_BUILD_BENCH=ON and build it)" >&2; exit 2; }
work=$(mktemp -d /tmp/fetchora-database.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$bench" "$jobs" "$work" > /dev/null
loads=() loadCpus=() saves=() saveCpus=() rss=()
for ((i = 1; i <= runs; i++)); do
  out=$("$bench" "$jobs" "$work")
  loads+=("$(awk '/^load_ms/ { print $2 }' <<< "$out")")
  loadCpus+=("$(awk '/^load_cpu_ms/ { print $2 }' <<< "$out")")
  saves+=("$(awk '/^save_ms/ { print $2 }' <<< "$out")")
  saveCpus+=("$(awk '/^save_cpu_ms/ { print $2 }' <<< "$out")")
  rss+=("$(awk '/^resident_after_load_MiB/ { print $2 }' <<< "$out")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "$jobs jobs, $(stat -c %s "$work/Default.kxd") bytes, medians of $runs runs"
echo "load_ms      $(median "${loads[@]}")  (CPU $(median "${loadCpus[@]}"); target <= 300)"
echo "save_ms      $(median "${saves[@]}")  (CPU $(median "${saveCpus[@]}"); target <= 300)"
echo "resident_MiB $(median "${rss[@]}")  (target <= 40)"

[ -x "$cli" ] || { echo "daemon: $cli not built, skipped"; exit 0; }
nowMs() { date +%s%3N; }
serving=() servingCpu=() stopping=() daemonRss=()
for ((i = 1; i <= runs; i++)); do
  profile=$work/profile$i run=$work/run$i
  mkdir -p "$profile" "$run"
  chmod 700 "$run"
  cp "$work/Default.kxd" "$profile/Default.kxd"
  start=$(nowMs)
  env -u DISPLAY -u WAYLAND_DISPLAY FETCHORA_HOME="$profile" XDG_RUNTIME_DIR="$run" "$cli" --daemon \
    > "$work/daemon$i.log" 2>&1 &
  pid=$!
  # Serving: the service socket accepts a connection (60 s at most).
  python3 - "$run/Fetchora" <<'PY' || { echo "daemon did not serve; see $work/daemon$i.log" >&2; kill "$pid"; exit 1; }
import socket, sys, time
deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    try:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(sys.argv[1])
        s.close()
        sys.exit(0)
    except OSError:
        time.sleep(0.005)
sys.exit(1)
PY
  served=$(nowMs)
  daemonRss+=("$(awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status")")
  # user + system CPU up to serving, from clock ticks
  ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  servingCpu+=($((ticks * 1000 / $(getconf CLK_TCK))))
  kill -TERM "$pid"
  wait "$pid" || true
  stopped=$(nowMs)
  serving+=($((served - start)))
  stopping+=($((stopped - served)))
done
echo "daemon_start_to_serving_ms $(median "${serving[@]}")  (CPU $(median "${servingCpu[@]}"))"
echo "daemon_stop_with_save_ms   $(median "${stopping[@]}")"
echo "daemon_resident_MiB        $(median "${daemonRss[@]}")"
