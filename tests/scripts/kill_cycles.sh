#!/usr/bin/env bash
# The long series of the kill test: fetchora-cli killed with SIGKILL at
# random moments, 100 times by default, then run to its end; every file must
# match its source. The seed is printed; give it again to repeat a series.
#
# usage: tests/scripts/kill_cycles.sh [build folder]   (CYCLES=100, SEED=random)
set -euo pipefail
source "$(dirname "$0")/kill_series.sh"
run_kill_series "kill cycles" FETCHORA_KILL_CYCLES 'CliKillCycles.*' "$@"
