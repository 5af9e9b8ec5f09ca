#!/usr/bin/env bash
# FTP from a loopback vsftpd with 8 connections: fetchora-cli -s 8 against
# lftp pget -n 8 and aria2c -x8. Wall time and CPU time; every file is checked
# by sha256. fetchora-cli syncs a finished file to the disk before it calls it
# complete, the peers do not: "lftp+sync" is lftp followed by a data sync of
# its file, the same promise. The tools take turns, RUNS times (3 by default), and each figure
# is the median. Needs root (vsftpd runs its sessions as user ftp).
#
# usage: bench/compare_ftp.sh [path/to/fetchora-cli]   (SIZE_MIB=1024, RUNS=3)
# BEFORE=path/to/an/older/fetchora-cli adds that build to the turns, to
# measure a change against the same loopback server.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/fetchora-cli}")
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-3}
[ -x "$cli" ] || { echo "fetchora-cli not found at $cli (build it first)" >&2; exit 2; }
need=()
command -v vsftpd >/dev/null || need+=(vsftpd)
command -v lftp >/dev/null || need+=(lftp)
command -v aria2c >/dev/null || need+=(aria2)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]}" >&2
  apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/fetchora-ftp.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/anon" "$work/empty" "$work/out" "$work/home"
chmod 755 "$work/anon"; chmod 555 "$work/empty"
cleanup() {
  if [ -n "${ftp_pid:-}" ]; then
    for s in $(ps -o pid= --ppid "$ftp_pid"); do kill -KILL -- -"$s" 2>/dev/null || true; done
    kill -TERM "$ftp_pid" 2>/dev/null && wait "$ftp_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((size_mib * 1048576)) /dev/urandom > "$work/anon/big.bin"
chmod 644 "$work/anon/big.bin"
expected=$(sha256sum "$work/anon/big.bin" | cut -d' ' -f1)
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
port=$(free_port)
pasv=$(free_port)
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$work/anon
local_enable=NO
write_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$pasv
pasv_max_port=$((pasv + 40))
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
xferlog_enable=NO
max_clients=64
max_per_ip=32
CONF
vsftpd "$work/vsftpd.conf" > "$work/vsftpd.out" 2>&1 &
ftp_pid=$!
url="ftp://127.0.0.1:$port/big.bin"
until curl -sf -o /dev/null -r 0-0 "$url"; do sleep 0.05; done

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

tools=(fetchora lftp lftp+sync aria2c)
before=${BEFORE:+$(realpath "$BEFORE")}
[ -n "$before" ] && tools+=(before)
declare -A walls=() cpus=()
for ((i = 1; i <= runs; i++)); do
  for tool in "${tools[@]}"; do
    echo "run $i of $runs: $tool" >&2
    case $tool in
      fetchora) r=$(run $tool env FETCHORA_HOME="$work/home" "$cli" -q -s 8 -d "$work/out" "$url") ;;
      before)   r=$(run $tool env FETCHORA_HOME="$work/home" "$before" -q -s 8 -d "$work/out" "$url") ;;
      lftp)     r=$(run $tool lftp -c "set cmd:at-exit ''; pget -n 8 -O $work/out $url") ;;
      lftp+sync) r=$(run $tool sh -c "lftp -c \"set cmd:at-exit ''; pget -n 8 -O $work/out $url\" && sync -d $work/out/big.bin") ;;
      aria2c)   r=$(run $tool aria2c -q -x8 -s8 --file-allocation=none --allow-overwrite=true -d "$work/out" \
                      -o big.bin "$url") ;;
    esac
    read -r w c <<< "$r"
    walls[$tool]+="$w "; cpus[$tool]+="$c "
  done
done
declare -A wall
printf '\n%d MiB over FTP, 8 connections\n%-10s %10s %10s\n' "$size_mib" tool wall_s cpu_s
for tool in "${tools[@]}"; do
  # shellcheck disable=SC2086
  wall[$tool]=$(median ${walls[$tool]})
  # shellcheck disable=SC2086
  printf '%-10s %10s %10s\n' "$tool" "${wall[$tool]}" "$(median ${cpus[$tool]})"
done
echo
echo "wall fetchora/lftp   = $(awk -v a="${wall[fetchora]}" -v b="${wall[lftp]}" 'BEGIN { printf "%.3f", a / b }')  (target <= 0.95)"
echo "wall fetchora/lftp+sync = $(awk -v a="${wall[fetchora]}" -v b="${wall[lftp+sync]}" 'BEGIN { printf "%.3f", a / b }')"
echo "wall fetchora/aria2c = $(awk -v a="${wall[fetchora]}" -v b="${wall[aria2c]}" 'BEGIN { printf "%.3f", a / b }')"
if [ -n "$before" ]; then
  echo "wall before/lftp     = $(awk -v a="${wall[before]}" -v b="${wall[lftp]}" 'BEGIN { printf "%.3f", a / b }')"
fi
