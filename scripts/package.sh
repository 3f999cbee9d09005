#!/usr/bin/env bash
# Builds the Debian package of the programs: build/jovviewer_VERSION_ARCH.deb.
#   scripts/package.sh [BUILD_DIR]
# Install it with `apt-get install ./build/jovviewer_*.deb`, which brings what it depends on.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
scripts/setup.sh
scripts/build.sh "$dir"
(cd "$dir" && cpack -G DEB)
ls "$dir"/jovviewer_*.deb
