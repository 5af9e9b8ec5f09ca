#!/usr/bin/env bash
# The long series of the kill test: fetchora-cli killed with SIGKILL at
# random moments, 100 times by default, then run to its end; every file must
# match its source. The seed is printed; give it again to repeat a series.
#
# usage: tests/scripts/kill_cycles.sh [build folder]   (CYCLES=100, SEED=random)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
tests="$build/tests/fetchora_tests"
[ -x "$tests" ] || { echo "no test program at $tests (build it first)" >&2; exit 2; }
seed=${SEED:-$((RANDOM * 32768 + RANDOM))}
echo "kill cycles: ${CYCLES:-100}, seed $seed"
FETCHORA_KILL_CYCLES=${CYCLES:-100} FETCHORA_KILL_SEED=$seed \
  "$tests" --gtest_filter='CliKillCycles.*'
