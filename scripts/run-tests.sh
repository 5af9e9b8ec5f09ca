#!/usr/bin/env bash
# Builds Fetchora in Release and Debug with warnings as errors and runs the
# whole test suite of each build with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

build_types=${FETCHORA_BUILD_TYPES:-"Release Debug"}
jobs=${FETCHORA_JOBS:-$(nproc)}

# ccache keeps compiled objects between runs; a base folder makes them
# reusable from any checkout of the project.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for type in $build_types; do
  dir="build-ci-${type,,}"
  echo "== $type build in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DFETCHORA_WERROR=ON "${launcher[@]}"
  cmake --build "$dir" -j "$jobs"
  echo "== $type tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
done
