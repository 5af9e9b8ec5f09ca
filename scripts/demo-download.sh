#!/usr/bin/env bash
# Builds fetchora-cli (Release) and shows its main job without the internet:
# a local nginx on 127.0.0.1 serves a freshly made file, fetchora-cli fetches
# it over 8 connections with a progress line, and the copy is checked. Then
# it builds the desktop program and, where a display exists, opens its window.
#
# usage: scripts/demo-download.sh [SIZE_MIB]     (fetchora-cli URL... works the same on any URL)
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-256}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target fetchora-cli

work=$(mktemp -d /tmp/fetchora-demo.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/out"
cleanup() {
  [ -n "${nginx_pid:-}" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((size_mib * 1048576)) /dev/urandom > "$work/www/demo.bin"
chmod -R a+rX "$work/www"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/tmp/body; proxy_temp_path $work/tmp/proxy; fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi; scgi_temp_path $work/tmp/scgi;
  server { listen 127.0.0.1:$port; root $work/www; limit_rate 16m; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
until curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$port/demo.bin" 2>/dev/null; do sleep 0.05; done

echo "fetchora-cli -s 8 -d $work/out http://127.0.0.1:$port/demo.bin"
FETCHORA_HOME="$work/home" ./build/fetchora-cli -s 8 -d "$work/out" "http://127.0.0.1:$port/demo.bin"
if cmp -s "$work/www/demo.bin" "$work/out/demo.bin"; then
  echo "downloaded ${size_mib} MiB; the copy is identical to the source"
else
  echo "the downloaded copy differs from the source" >&2
  exit 1
fi

cmake --build build --target fetchora
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "opening the window: ./build/fetchora"
  setsid ./build/fetchora >/dev/null 2>&1 < /dev/null &
else
  echo "no display here: start the window later with ./build/fetchora"
fi
