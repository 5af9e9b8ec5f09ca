# The part the kill-series scripts share, sourced by them: finds the test
# program, picks and prints the seed, and runs one series of the kill tests.
#
# run_kill_series LABEL CYCLES_VARIABLE TEST_FILTER [build folder]
#   (CYCLES=100, SEED=random)
run_kill_series() {
  local label=$1 cycles_variable=$2 filter=$3
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  local build=${4:-$here/../../build}
  local tests="$build/tests/fetchora_tests"
  [ -x "$tests" ] || { echo "no test program at $tests (build it first)" >&2; exit 2; }
  local seed=${SEED:-$((RANDOM * 32768 + RANDOM))}
  echo "$label: ${CYCLES:-100}, seed $seed"
  env "$cycles_variable=${CYCLES:-100}" FETCHORA_KILL_SEED="$seed" "$tests" --gtest_filter="$filter"
}
