#!/usr/bin/env bash
# The long series of the daemon's kill test: fetchora-cli --daemon killed with
# SIGKILL 100 times by default (mid-transfer, at the start of a database save
# and while URLs are handed over), then run to its end; every job must end
# byte-identical, once. The seed is printed; give it again to repeat a series.
#
# usage: tests/scripts/daemon_kill_cycles.sh [build folder]   (CYCLES=100, SEED=random)
set -euo pipefail
source "$(dirname "$0")/kill_series.sh"
run_kill_series "daemon kill cycles" FETCHORA_DAEMON_KILL_CYCLES 'CliDaemonKillCycles.*' "$@"
