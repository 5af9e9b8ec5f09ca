#!/usr/bin/env bash
# Times the job list's view model on a queue of 10,000 jobs with 8 running:
# how long opening the "Download" category takes (target under 50 ms), and how
# many batches one second of progress notices (8 jobs x 20 a second, on a made-up
# clock stepping through 1000 ms) turns into (target at most 4).
#
# usage: bench/view_model.sh [build folder]   (JOBS=10000 RUNNING=8 NOTICES=20 by default)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
nice ninja -C "$build" fetchora_bench_view_model >/dev/null
"$build/bench/fetchora_bench_view_model" "${JOBS:-10000}" "${RUNNING:-8}" "${NOTICES:-20}"
