#!/usr/bin/env bash
# scripts/sanitizer-reports.sh: a test run fails when its command fails or a
# sanitizer left a report, and every report is shown under its heading.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
cd "$work"
# shellcheck source=../../scripts/sanitizer-reports.sh
source "$repo/scripts/sanitizer-reports.sh"

# Runs run_with_reports in a subshell (it ends the script on a failure);
# expects the exit status $1 and, when given, text $3 in the output.
expect() {
  local want=$1 what=$2 pattern=$3
  shift 3
  local output status=0
  output=$( (run_with_reports "reports of the test build" "$@") 2>&1) || status=$?
  if [[ $status -ne $want ]]; then
    echo "FAIL: $what: expected exit $want, got $status"; echo "$output"; failures=$((failures + 1)); return
  fi
  if [[ -n $pattern && $output != *"$pattern"* ]]; then
    echo "FAIL: $what: output does not hold '$pattern'"; echo "$output"; failures=$((failures + 1)); return
  fi
  echo "ok: $what"
}

fresh_reports build
[[ $reports == "$work/build/sanitizer-reports" && -d $reports ]] \
  || { echo "FAIL: the report folder is $reports"; failures=$((failures + 1)); }
expect 0 "a clean run passes" "" true
expect 3 "a failing command keeps its status" "" bash -c 'exit 3'

echo "ERROR: AddressSanitizer: heap-use-after-free" > "$reports/asan.123"
expect 1 "a report fails a passing run and is shown" "AddressSanitizer: heap-use-after-free" true
expect 1 "the heading and the report's path come first" "== reports of the test build:
-- $reports/asan.123" true
expect 1 "a report also fails a failing run" "heap-use-after-free" false

# The next build starts without the last one's reports.
fresh_reports build
[[ -z $(ls -A "$reports") ]] || { echo "FAIL: old reports are kept"; failures=$((failures + 1)); }
expect 0 "a clean run after a fresh folder passes" "" true

[[ $failures -eq 0 ]] || { echo "$failures failures"; exit 1; }
echo "all passed"
