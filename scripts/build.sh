#!/usr/bin/env bash
# Configures and builds one build tree.  Usage: scripts/build.sh [DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
else
  [ $# -gt 0 ] && cmake -S . -B "$dir" "$@"
fi
cmake --build "$dir" --parallel "$(nproc)"
