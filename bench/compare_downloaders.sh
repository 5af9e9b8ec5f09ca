#!/usr/bin/env bash
# Compares fetchora-cli with aria2c, axel and curl on the same nginx loopback
# server.
#
#   (a) a 1 GiB file without limit, 8 connections (curl has one);
#   (a1) the same file over one connection: fetchora-cli -s 1 against curl;
#   (b) the same file with nginx limit_rate 20m on each connection (curl and
#       the one-connection run are left out: a single 20 MB/s stream says
#       nothing new and takes a long time).
#
# Prints wall time, CPU time (user + system) and peak memory of each tool, and
# the ratios against our targets. Every download is checked by sha256. Each
# tool runs RUNS times (3 by default), the tools taking turns, and each figure
# is the median of its runs; dirty pages are written out before every run so
# that no tool pays for the previous one's writes.
#
# usage: bench/compare_downloaders.sh [path/to/fetchora-cli]   (SIZE_MIB=1024, RUNS=3 by default)
# TOOLS="fetchora" measures fetchora-cli alone (before and after a change of
# its own; "fetchora-1" is its one-connection run); the ratios need them all.
# BEFORE=path/to/an/older/fetchora-cli adds that build's 8-connection run to
# the turns ("before"), so that a change is measured against the same load.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/fetchora-cli}")
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-3}
connections=8
read -r -a selected <<< "${TOOLS:-fetchora aria2c axel fetchora-1 curl}"
before=${BEFORE:+$(realpath "$BEFORE")}
[ -n "$before" ] && selected+=(before)
uses() { [[ " ${selected[*]} " == *" $1 "* ]]; }
# The tools of one case: the limited case leaves out the one-connection runs.
tools_for() {
  tools=()
  for tool in "${selected[@]}"; do
    [ "$1" = limited ] && { [ "$tool" = curl ] || [ "$tool" = fetchora-1 ]; } && continue
    tools+=("$tool")
  done
}

need=()
if uses aria2c; then command -v aria2c >/dev/null || need+=(aria2); fi
if uses axel; then command -v axel >/dev/null || need+=(axel); fi
[ -x /usr/bin/time ] || need+=(time)
command -v nginx >/dev/null || need+=(nginx-light)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]}" >&2
  apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}" >/dev/null
fi
[ -x "$cli" ] || { echo "fetchora-cli not found at $cli (build it first)" >&2; exit 2; }

work=$(mktemp -d /tmp/fetchora-bench.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/out" "$work/home"
cleanup() {
  [ -n "${nginx_pid:-}" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "making a ${size_mib} MiB test file" >&2
head -c $((size_mib * 1048576)) /dev/urandom > "$work/www/big.bin"
chmod -R a+rX "$work/www"
expected=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
port=$(free_port)
cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body; proxy_temp_path $work/tmp/proxy; fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi; scgi_temp_path $work/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location /free/ { alias $work/www/; }
    location /limited/ { alias $work/www/; limit_rate 20m; }
  }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
until curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$port/free/big.bin"; do sleep 0.05; done

# run NAME CASE COMMAND...: prints "wall cpu peak_kib" and checks the file.
run() {
  local name=$1 case=$2; shift 2
  rm -rf "$work/out"/* "$work/home"/*
  sync
  local stats="$work/time.txt"
  ( cd "$work/out" && /usr/bin/time -f '%e %U %S %M' -o "$stats" "$@" >/dev/null 2>"$work/stderr.txt" ) || {
    echo "$name ($case) failed:" >&2; tail -5 "$work/stderr.txt" >&2; return 1; }
  local got
  got=$(sha256sum "$work/out/big.bin" | cut -d' ' -f1)
  [ "$got" = "$expected" ] || { echo "$name ($case): the file differs from the source" >&2; return 1; }
  read -r wall user sys peak < "$stats"
  printf '%s %s %s\n' "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')" "$peak"
}

# median of the numbers given
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A wall cpu peak
for case in free limited; do
  url="http://127.0.0.1:$port/$case/big.bin"
  declare -A walls=() cpus=() peaks=()
  tools_for $case
  for ((i = 1; i <= runs; i++)); do
    for tool in "${tools[@]}"; do
      echo "run $i of $runs: $tool ($case)" >&2
      case $tool in
        fetchora) result=$(run $tool $case env FETCHORA_HOME="$work/home" "$cli" -q -s $connections -d "$work/out" "$url") ;;
        aria2c)   result=$(run $tool $case aria2c -q -x$connections -s$connections --file-allocation=none \
                             --allow-overwrite=true -d "$work/out" -o big.bin "$url") ;;
        axel)     result=$(run $tool $case axel -q -n $connections -o "$work/out/big.bin" "$url") ;;
        before)   result=$(run $tool $case env FETCHORA_HOME="$work/home" "$before" -q -s $connections -d "$work/out" "$url") ;;
        fetchora-1) result=$(run $tool $case env FETCHORA_HOME="$work/home" "$cli" -q -s 1 -d "$work/out" "$url") ;;
        curl)     result=$(run $tool $case curl -sSf -o "$work/out/big.bin" "$url") ;;
      esac
      read -r w c p <<< "$result"
      walls[$tool]+="$w "; cpus[$tool]+="$c "; peaks[$tool]+="$p "
    done
  done
  for tool in "${tools[@]}"; do
    # shellcheck disable=SC2086
    wall[$tool,$case]=$(median ${walls[$tool]}); cpu[$tool,$case]=$(median ${cpus[$tool]})
    # shellcheck disable=SC2086
    peak[$tool,$case]=$(median ${peaks[$tool]})
  done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
echo
printf '%-10s %-8s %10s %10s %12s\n' tool case wall_s cpu_s peak_MiB
for case in free limited; do
  tools_for $case
  for tool in "${tools[@]}"; do
    printf '%-10s %-8s %10s %10s %12s\n' $tool $case "${wall[$tool,$case]}" "${cpu[$tool,$case]}" \
      "$(mib "${peak[$tool,$case]}")"
  done
done
if uses before && uses aria2c; then
  echo "(a) wall before/aria2c   = $(ratio "${wall[before,free]}" "${wall[aria2c,free]}")"
fi
uses aria2c && uses axel && uses fetchora && uses fetchora-1 && uses curl || exit 0
ideal=$(awk -v m="$size_mib" -v n="$connections" 'BEGIN { printf "%.3f", m / (n * 20) }')
echo
echo "(a) wall fetchora/aria2c = $(ratio "${wall[fetchora,free]}" "${wall[aria2c,free]}")  (target <= 0.8)"
echo "(a) wall fetchora/axel   = $(ratio "${wall[fetchora,free]}" "${wall[axel,free]}")  (target <= 1)"
echo "(a) cpu  fetchora/aria2c = $(ratio "${cpu[fetchora,free]}" "${cpu[aria2c,free]}")  (target <= 1)"
echo "(a1) wall fetchora -s 1/curl = $(ratio "${wall[fetchora-1,free]}" "${wall[curl,free]}")  (target <= 1)"
echo "(a1) cpu  fetchora -s 1/curl = $(ratio "${cpu[fetchora-1,free]}" "${cpu[curl,free]}")"
echo "(a) wall fetchora -s 8/curl  = $(ratio "${wall[fetchora,free]}" "${wall[curl,free]}")"
echo "(b) wall fetchora/ideal  = $(ratio "${wall[fetchora,limited]}" "$ideal")  (ideal ${ideal} s; target <= 1.05)"
echo "peak memory fetchora     = $(mib "${peak[fetchora,free]}") MiB (target <= 32)"
