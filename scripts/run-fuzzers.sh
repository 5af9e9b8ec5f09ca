#!/usr/bin/env bash
# Builds the fuzz programs of fuzz/ (clang, libFuzzer with AddressSanitizer
# and UndefinedBehaviorSanitizer, -O1) in build-ci-fuzz and runs each on its
# seed corpus for a short time. Any crash, leak, sanitizer report, time-out
# or memory blow-up fails the run. Prints the executions of every program.
#
#   FETCHORA_FUZZ_SECONDS   seconds per program (default 5)
#   FETCHORA_FUZZ_TARGETS   names to run (default: every fuzz/*_fuzz.cpp)
#   FETCHORA_JOBS           build jobs (default: nproc)
#   FETCHORA_FUZZ_BUILD_DIR the build folder (default build-ci-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FETCHORA_FUZZ_SECONDS:-5}
jobs=${FETCHORA_JOBS:-$(nproc)}
dir=${FETCHORA_FUZZ_BUILD_DIR:-build-ci-fuzz}

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "== fuzz build in $dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" \
  -DCMAKE_CXX_COMPILER=clang++ -DFETCHORA_FUZZ=ON -DFETCHORA_BUILD_GUI=OFF -DFETCHORA_BUILD_TESTS=OFF \
  -DFETCHORA_BUILD_BENCH=OFF "${launcher[@]}"
cmake --build "$dir" -j "$jobs" --target fuzzers

if [ -n "${FETCHORA_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$FETCHORA_FUZZ_TARGETS"
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

# A finding stops the program at once with the sanitizer's report; leaks
# count as findings.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

work="$dir/fuzz-run"
rm -rf "$work"
mkdir -p "$work"
failed=()
summary=()
for name in "${targets[@]}"; do
  program="$dir/fuzz/${name}_fuzz"
  seeds="fuzz/corpus/$name"
  # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
  corpus="$work/$name-corpus"
  mkdir -p "$corpus" "$work/$name-artifacts"
  log="$work/$name.log"
  status=0
  "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/$name-artifacts/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$(printf '%-16s %10s executions in %ss' "$name" "${runs:-?}" "$seconds")")
  if [ "$status" -ne 0 ] || ls "$work/$name-artifacts/"* >/dev/null 2>&1; then
    failed+=("$name")
    echo "== $name FAILED (exit $status); the end of its log:"
    tail -n 60 "$log"
    echo "== the input that failed: $(ls "$work/$name-artifacts/" 2>/dev/null | tr '\n' ' ')"
  fi
done

echo "== fuzz runs"
printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "== findings in: ${failed[*]} (inputs under $work/<name>-artifacts/)"
  exit 1
fi
