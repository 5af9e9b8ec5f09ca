# shellcheck shell=bash
# Sanitizer reports of a test run, for scripts/run-tests.sh (sourced, not run).
#
# The sanitizers write their reports to files rather than stderr: the
# programs the tests start (fetchora-cli, the test helper) write their stderr
# where the tests read it, and a finding there must not pass unseen.

# Empties the report folder of the build folder $1 and names it in $reports.
fresh_reports() {
  reports="$PWD/$1/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
}

# Runs the command given after the heading $1 (a build's tests), then shows
# every report in $reports under that heading. Ends the calling script with
# the command's status when it failed, or with 1 when any report was written.
run_with_reports() {
  local heading=$1 status=0
  shift
  "$@" || status=$?
  if [ -n "$(ls -A "$reports")" ]; then
    echo "== $heading:"
    local report
    for report in "$reports"/*; do
      echo "-- $report"
      cat "$report"
    done
    status=1
  fi
  [ "$status" -eq 0 ] || exit "$status"
}
