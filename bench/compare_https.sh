#!/usr/bin/env bash
# HTTPS throughput on a loopback nginx: fetchora-cli with 8 connections
# against curl (one connection) and aria2c -x8. Wall time, CPU time (user +
# system) and peak memory; every file is checked by sha256. The tools take
# turns, RUNS times (3 by default), and each figure is the median.
#
# usage: bench/compare_https.sh [path/to/fetchora-cli]   (SIZE_MIB=512, RUNS=3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/fetchora-cli}")
size_mib=${SIZE_MIB:-512}
runs=${RUNS:-3}
[ -x "$cli" ] || { echo "fetchora-cli not found at $cli (build it first)" >&2; exit 2; }
for tool in nginx curl aria2c openssl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install nginx-light curl aria2 openssl time)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/fetchora-https.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/out" "$work/home"
cleanup() {
  [ -n "${nginx_pid:-}" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((size_mib * 1048576)) /dev/urandom > "$work/www/big.bin"
chmod -R a+rX "$work/www"
expected=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/tmp/body; proxy_temp_path $work/tmp/proxy; fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi; scgi_temp_path $work/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem; ssl_certificate_key $work/key.pem;
    root $work/www;
  }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
url="https://127.0.0.1:$port/big.bin"
until curl -skf -o /dev/null -r 0-0 "$url"; do sleep 0.05; done

run() {
  local name=$1; shift
  rm -rf "$work/out"/* "$work/home"/*
  sync
  ( cd "$work/out" && /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ) || {
    echo "$name failed:" >&2; tail -5 "$work/stderr.txt" >&2; return 1; }
  [ "$(sha256sum "$work/out/big.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "$name: the file differs" >&2; return 1; }
  read -r wall user sys peak < "$work/time.txt"
  printf '%s %s %s\n' "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')" "$peak"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

tools=(fetchora curl aria2c)
declare -A walls=() cpus=() peaks=()
for ((i = 1; i <= runs; i++)); do
  for tool in "${tools[@]}"; do
    echo "run $i of $runs: $tool" >&2
    case $tool in
      fetchora) r=$(run $tool env FETCHORA_HOME="$work/home" "$cli" -q --ca-file "$work/cert.pem" -s 8 -d "$work/out" "$url") ;;
      curl)     r=$(run $tool curl -skf -o "$work/out/big.bin" "$url") ;;
      aria2c)   r=$(run $tool aria2c -q -x8 -s8 --check-certificate=false --file-allocation=none \
                      --allow-overwrite=true -d "$work/out" -o big.bin "$url") ;;
    esac
    read -r w c p <<< "$r"
    walls[$tool]+="$w "; cpus[$tool]+="$c "; peaks[$tool]+="$p "
  done
done
declare -A wall cpu peak
printf '\n%-10s %10s %10s %12s\n' tool wall_s cpu_s peak_MiB
for tool in "${tools[@]}"; do
  # shellcheck disable=SC2086
  wall[$tool]=$(median ${walls[$tool]}); cpu[$tool]=$(median ${cpus[$tool]}); peak[$tool]=$(median ${peaks[$tool]})
  printf '%-10s %10s %10s %12s\n' "$tool" "${wall[$tool]}" "${cpu[$tool]}" \
    "$(awk -v k="${peak[$tool]}" 'BEGIN { printf "%.1f", k / 1024 }')"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
echo
echo "wall fetchora/curl   = $(ratio "${wall[fetchora]}" "${wall[curl]}")  (target <= 1.0)"
echo "cpu  fetchora/curl   = $(ratio "${cpu[fetchora]}" "${cpu[curl]}")  (target <= 1.3)"
echo "wall fetchora/aria2c = $(ratio "${wall[fetchora]}" "${wall[aria2c]}")  (target <= 0.6)"
