#!/usr/bin/env bash
# Many small files from a URL list on a loopback nginx: fetchora-cli -i
# against aria2c -j 8 -i. Wall time, CPU time and peak memory; every file is
# checked by sha256. The tools take turns, RUNS times (3 by default), and each
# figure is the median.
#
# usage: bench/compare_small_files.sh [path/to/fetchora-cli]   (FILES=500, SIZE_KIB=64, RUNS=3)
# BEFORE=path/to/an/older/fetchora-cli adds that build to the turns, to
# measure a change against the same loopback server.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/fetchora-cli}")
files=${FILES:-500}
size_kib=${SIZE_KIB:-64}
runs=${RUNS:-3}
[ -x "$cli" ] || { echo "fetchora-cli not found at $cli (build it first)" >&2; exit 2; }
for tool in nginx curl aria2c /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install nginx-light curl aria2 time)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/fetchora-small.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/out" "$work/home"
cleanup() {
  [ -n "${nginx_pid:-}" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
for ((n = 0; n < files; n++)); do
  head -c $((size_kib * 1024)) /dev/urandom > "$work/www/f$n.bin"
  echo "http://127.0.0.1:$port/f$n.bin" >> "$work/list.txt"
done
chmod -R a+rX "$work/www"
(cd "$work/www" && sha256sum -- *.bin | sort) > "$work/expected.txt"
cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 512; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body; proxy_temp_path $work/tmp/proxy; fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi; scgi_temp_path $work/tmp/scgi;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
until curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$port/f0.bin"; do sleep 0.05; done

run() {
  local name=$1; shift
  rm -rf "$work/out"/* "$work/home"/*
  sync
  ( cd "$work/out" && /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ) || {
    echo "$name failed:" >&2; tail -5 "$work/stderr.txt" >&2; return 1; }
  (cd "$work/out" && sha256sum -- *.bin | sort) | cmp -s - "$work/expected.txt" || {
    echo "$name: the files differ" >&2; return 1; }
  read -r wall user sys peak < "$work/time.txt"
  printf '%s %s %s\n' "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')" "$peak"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

tools=(fetchora aria2c)
before=${BEFORE:+$(realpath "$BEFORE")}
[ -n "$before" ] && tools+=(before)
declare -A walls=() cpus=() peaks=()
for ((i = 1; i <= runs; i++)); do
  for tool in "${tools[@]}"; do
    echo "run $i of $runs: $tool" >&2
    case $tool in
      fetchora) r=$(run $tool env FETCHORA_HOME="$work/home" "$cli" -q -d "$work/out" -i "$work/list.txt") ;;
      before)   r=$(run $tool env FETCHORA_HOME="$work/home" "$before" -q -d "$work/out" -i "$work/list.txt") ;;
      aria2c)   r=$(run $tool aria2c -q -j 8 --file-allocation=none --allow-overwrite=true -d "$work/out" \
                      -i "$work/list.txt") ;;
    esac
    read -r w c p <<< "$r"
    walls[$tool]+="$w "; cpus[$tool]+="$c "; peaks[$tool]+="$p "
  done
done
declare -A wall cpu
printf '\n%d files of %d KiB\n%-10s %10s %10s %12s\n' "$files" "$size_kib" tool wall_s cpu_s peak_MiB
for tool in "${tools[@]}"; do
  # shellcheck disable=SC2086
  wall[$tool]=$(median ${walls[$tool]}); cpu[$tool]=$(median ${cpus[$tool]})
  # shellcheck disable=SC2086
  printf '%-10s %10s %10s %12s\n' "$tool" "${wall[$tool]}" "${cpu[$tool]}" \
    "$(awk -v k="$(median ${peaks[$tool]})" 'BEGIN { printf "%.1f", k / 1024 }')"
done
echo
echo "wall fetchora/aria2c = $(awk -v a="${wall[fetchora]}" -v b="${wall[aria2c]}" 'BEGIN { printf "%.3f", a / b }')  (target <= 1.0)"
