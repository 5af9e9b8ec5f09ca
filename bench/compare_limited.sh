#!/usr/bin/env bash
# The rate-limited case: nginx gives each connection at most 20 MB/s, and
# fetchora-cli -s 8 runs against 8 parallel curls that fetch the same eight
# ranges (the best any 8-connection client can do). Wall time and CPU time;
# both results are checked by sha256. The two take turns, RUNS times (3 by
# default), and each figure is the median.
#
# usage: bench/compare_limited.sh [path/to/fetchora-cli]   (SIZE_MIB=256, RUNS=3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/fetchora-cli}")
size_mib=${SIZE_MIB:-256}
runs=${RUNS:-3}
[ -x "$cli" ] || { echo "fetchora-cli not found at $cli (build it first)" >&2; exit 2; }
for tool in nginx curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install nginx-light curl time)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/fetchora-limited.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/out" "$work/home"
cleanup() {
  [ -n "${nginx_pid:-}" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

size=$((size_mib * 1048576))
head -c $size /dev/urandom > "$work/www/big.bin"
chmod -R a+rX "$work/www"
expected=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
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
  server { listen 127.0.0.1:$port; root $work/www; limit_rate 20m; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
url="http://127.0.0.1:$port/big.bin"
until curl -sf -o /dev/null -r 0-0 "$url"; do sleep 0.05; done

# Eight curls, one range each, then the pieces joined.
eight_curls() {
  local part=$((size / 8)) pids=() i
  for ((i = 0; i < 8; i++)); do
    local from=$((i * part)) to=$(((i + 1) * part - 1))
    [ $i -eq 7 ] && to=$((size - 1))
    curl -sf -r $from-$to -o "$work/out/part$i" "$url" & pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
  cat "$work/out"/part{0..7} > "$work/out/big.bin"
}
export -f eight_curls
export work size url

run() {
  local name=$1; shift
  rm -rf "$work/out"/* "$work/home"/*
  sync
  ( cd "$work/out" && /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ) || {
    echo "$name failed:" >&2; tail -5 "$work/stderr.txt" >&2; return 1; }
  [ "$(sha256sum "$work/out/big.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "$name: the file differs" >&2; return 1; }
  read -r wall user sys < "$work/time.txt"
  printf '%s %s\n' "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A walls=() cpus=()
for ((i = 1; i <= runs; i++)); do
  for tool in fetchora curl8; do
    echo "run $i of $runs: $tool" >&2
    case $tool in
      fetchora) r=$(run $tool env FETCHORA_HOME="$work/home" "$cli" -q -s 8 -d "$work/out" "$url") ;;
      curl8)    r=$(run $tool bash -c eight_curls) ;;
    esac
    read -r w c <<< "$r"
    walls[$tool]+="$w "; cpus[$tool]+="$c "
  done
done
declare -A wall
printf '\n%d MiB at 20 MB/s per connection\n%-10s %10s %10s\n' "$size_mib" tool wall_s cpu_s
for tool in fetchora curl8; do
  # shellcheck disable=SC2086
  wall[$tool]=$(median ${walls[$tool]})
  # shellcheck disable=SC2086
  printf '%-10s %10s %10s\n' "$tool" "${wall[$tool]}" "$(median ${cpus[$tool]})"
done
echo
echo "wall fetchora/8 curls = $(awk -v a="${wall[fetchora]}" -v b="${wall[curl8]}" 'BEGIN { printf "%.3f", a / b }')  (target <= 1.05)"
