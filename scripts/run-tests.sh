#!/usr/bin/env bash
# Builds Fetchora with warnings as errors and runs the whole test suite with
# CTest in a Debug build checked by AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer; any finding, also in a program a test
# starts, fails the run. The sanitized build stands in for a plain one:
# FETCHORA_BUILD_TYPES="Release Debug" adds the Release build and its run.
# A second build under ThreadSanitizer runs the tests of the threaded layers
# (below), and last every fuzz program runs briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitizer-reports.sh

build_types=${FETCHORA_BUILD_TYPES:-Debug}
jobs=${FETCHORA_JOBS:-$(nproc)}
debug_sanitize=${FETCHORA_DEBUG_SANITIZE-address,undefined}
# Sanitizer options the caller set come after ours and win.
caller_asan_options=${ASAN_OPTIONS:-}
caller_ubsan_options=${UBSAN_OPTIONS:-}
caller_tsan_options=${TSAN_OPTIONS:-}
caller_big_test_mib=${FETCHORA_BIG_TEST_MIB:-}

# ccache keeps compiled objects between runs; a base folder makes them
# reusable from any checkout of the project.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for type in $build_types; do
  dir="build-ci-${type,,}"
  sanitize=""
  [ "$type" = Debug ] && sanitize=$debug_sanitize
  echo "== $type build in $dir${sanitize:+ (sanitizers: $sanitize)}"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DFETCHORA_WERROR=ON \
    -DFETCHORA_SANITIZE="$sanitize" "${launcher[@]}"

  # Test discovery runs the test program at build time, so the options are
  # set before building.
  fresh_reports "$dir"
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:log_path=$reports/asan${caller_asan_options:+:$caller_asan_options}"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan${caller_ubsan_options:+:$caller_ubsan_options}"
  # Sanitized code moves bytes several times slower; the big downloads shrink
  # there (the Release build still moves the full sizes).
  if [ -n "$sanitize" ]; then
    export FETCHORA_BIG_TEST_MIB=${caller_big_test_mib:-128}
  elif [ -n "$caller_big_test_mib" ]; then
    export FETCHORA_BIG_TEST_MIB=$caller_big_test_mib
  else
    unset FETCHORA_BIG_TEST_MIB
  fi

  cmake --build "$dir" -j "$jobs"
  echo "== $type tests"
  run_with_reports "sanitizer reports of the $type build" \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
done

# ThreadSanitizer: the test program and the programs its tests start, without
# the window, at -O1 (-O0 runs several times slower under the checker and
# compiles no faster), asserts on. Every object costs several times more here,
# so the test program holds only the tests of the layers that run threads;
# FETCHORA_TSAN_TESTS names those folders of tests/, and an empty value skips
# the stage.
tsan_tests=${FETCHORA_TSAN_TESTS-engine platform integration}
if [ -n "$tsan_tests" ]; then
  dir=build-ci-tsan
  echo "== ThreadSanitizer build in $dir (tests of: $tsan_tests)"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DFETCHORA_WERROR=ON -DFETCHORA_SANITIZE=thread -DFETCHORA_BUILD_GUI=OFF -DFETCHORA_BUILD_BENCH=OFF \
    -DFETCHORA_TEST_FOLDERS="${tsan_tests// /;}" "${launcher[@]}"
  fresh_reports "$dir"
  # tsan.supp holds each suppression with its reason; it is no place for a
  # race of our own.
  tsan_supp=""
  [ -f tsan.supp ] && tsan_supp=":suppressions=$PWD/tsan.supp"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan$tsan_supp${caller_tsan_options:+:$caller_tsan_options}"
  unset ASAN_OPTIONS UBSAN_OPTIONS
  export FETCHORA_BIG_TEST_MIB=${caller_big_test_mib:-64}
  cmake --build "$dir" -j "$jobs" --target fetchora_tests fetchora-cli fetchora_test_helper fetchora-host
  echo "== ThreadSanitizer tests"
  run_with_reports "ThreadSanitizer reports" \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 \
    -E '^(CheckLayersScript|InstallIntoATemporaryPrefix)$'
fi

bash scripts/run-fuzzers.sh  # every parser of outside input under libFuzzer, briefly
