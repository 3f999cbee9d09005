#!/usr/bin/env bash
# Configures and builds one build tree.  Usage: scripts/build.sh [DIR] [extra cmake args...]
# JOV_TARGETS, when set, names the targets to build (space-separated); otherwise all.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
else
  [ $# -gt 0 ] && cmake -S . -B "$dir" "$@"
fi
targets=()
for t in ${JOV_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
