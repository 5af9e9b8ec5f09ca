#!/usr/bin/env bash
# The long series of the daemon's kill test: fetchora-cli --daemon killed with
# SIGKILL 100 times by default (mid-transfer, at the start of a database save
# and while URLs are handed over), then run to its end; every job must end
# byte-identical, once. The seed is printed; give it again to repeat a series.
#
# usage: tests/scripts/daemon_kill_cycles.sh [build folder]   (CYCLES=100, SEED=random)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
tests="$build/tests/fetchora_tests"
[ -x "$tests" ] || { echo "no test program at $tests (build it first)" >&2; exit 2; }
seed=${SEED:-$((RANDOM * 32768 + RANDOM))}
echo "daemon kill cycles: ${CYCLES:-100}, seed $seed"
FETCHORA_DAEMON_KILL_CYCLES=${CYCLES:-100} FETCHORA_KILL_SEED=$seed \
  "$tests" --gtest_filter='CliDaemonKillCycles.*'
