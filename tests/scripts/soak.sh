#!/bin/bash
# The long soak: randomized downloads through the fault-injecting proxy, with
# files up to 64 MiB and stalls past the data time-out. It prints its seed
# first; run it again with that seed to replay a failure, and with
# FETCHORA_SOAK_ONLY=N to replay just download N with its part log.
#
#   tests/scripts/soak.sh [BUILD_DIR] [SEED] [COUNT]
set -euo pipefail
build=${1:-build}
seed=${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
count=${3:-200}
echo "soak: seed $seed, $count downloads"
export FETCHORA_SOAK_SEED=$seed FETCHORA_SOAK_COUNT=$count
export FETCHORA_SOAK_MAX_MIB=${FETCHORA_SOAK_MAX_MIB:-64} FETCHORA_SOAK_STALLS=${FETCHORA_SOAK_STALLS:-1}
export FETCHORA_SOAK_JOBS=${FETCHORA_SOAK_JOBS:-3}
status=0
"$build/tests/fetchora_tests" --gtest_filter='Soak.*' || status=$?
echo "soak: seed $seed, $count downloads, exit $status"
exit $status
