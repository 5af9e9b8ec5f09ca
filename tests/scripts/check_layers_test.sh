#!/usr/bin/env bash
# scripts/check-layers.sh on small copies of a source tree: it passes the
# real tree and fails, naming the line, on each kind of wrong include.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A tree with one file per folder, every include pointing down.
make_tree() {
  rm -rf "$work/tree"
  mkdir -p "$work/tree/scripts"
  cp "$repo/scripts/check-layers.sh" "$work/tree/scripts/"
  for folder in platform lang config net model engine explorer lists mirrors shell cli; do
    mkdir -p "$work/tree/src/$folder"
    echo "#pragma once" > "$work/tree/src/$folder/a.h"
  done
  echo '#include "platform/a.h"' >> "$work/tree/src/net/a.h"
  echo '#include "engine/a.h"' >> "$work/tree/src/shell/a.h"
  echo '#include "explorer/a.h"' >> "$work/tree/src/shell/a.h"
  echo '#include "explorer/a.h"' >> "$work/tree/src/mirrors/a.h"
  echo '#include "mirrors/a.h"' >> "$work/tree/src/shell/a.h"
}

expect() {
  local want=$1 what=$2 pattern=${3:-}
  local output status=0
  output=$(bash "$work/tree/scripts/check-layers.sh" 2>&1) || status=$?
  if [[ $want == pass && $status -ne 0 ]] || [[ $want == fail && $status -eq 0 ]]; then
    echo "FAIL: $what: expected $want, exit $status"; echo "$output"; failures=$((failures + 1)); return
  fi
  if [[ -n $pattern && $output != *"$pattern"* ]]; then
    echo "FAIL: $what: output does not name '$pattern'"; echo "$output"; failures=$((failures + 1)); return
  fi
  echo "ok: $what"
}

(cd "$repo" && bash scripts/check-layers.sh >/dev/null) || { echo "FAIL: the real tree"; failures=$((failures + 1)); }

make_tree
expect pass "includes that point down"

make_tree
echo '#include "engine/a.h"' >> "$work/tree/src/net/a.h"
expect fail "net includes engine" "src/net/a.h:3:#include \"engine/a.h\"  (net may not include engine)"

make_tree
echo '#include "shell/a.h"' >> "$work/tree/src/explorer/a.h"
expect fail "explorer includes shell" "(explorer may not include shell)"

make_tree
echo '#include "lists/a.h"' >> "$work/tree/src/explorer/a.h"
expect fail "explorer includes lists, a sibling" "(explorer may not include lists)"

make_tree
echo '#include "shell/a.h"' >> "$work/tree/src/mirrors/a.h"
expect fail "mirrors includes shell" "(mirrors may not include shell)"

make_tree
echo '#include "mirrors/a.h"' >> "$work/tree/src/engine/a.h"
expect fail "engine includes mirrors" "(engine may not include mirrors)"

make_tree
echo '#include "config/a.h"' >> "$work/tree/src/lang/a.h"
expect fail "lang includes config" "(lang may not include config)"

make_tree
echo '#include "../engine/a.h"' >> "$work/tree/src/net/a.h"
expect fail "a path climbing out of its folder" "src/net/a.h:3"

make_tree
echo '#include <QString>' >> "$work/tree/src/model/a.h"
expect fail "a Qt header in the core" "QString"

make_tree
mkdir -p "$work/tree/src/extra"
expect fail "a folder outside the order" "src/extra"

exit $((failures > 0))
