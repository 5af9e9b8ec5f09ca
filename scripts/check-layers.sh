#!/usr/bin/env bash
# The core and the platform layer must never include a GUI header.
set -euo pipefail
cd "$(dirname "$0")/.."
core_dirs=(src/platform src/model src/engine src/net src/mirrors src/config src/explorer src/lists src/lang src/shell src/cli)
if grep -rnE '#\s*include\s*[<"]Q' "${core_dirs[@]}" 2>/dev/null; then
  echo "error: a GUI header is included outside src/gui and src/app" >&2
  exit 1
fi
echo "layers: no GUI header in the core"
