#!/usr/bin/env bash
# Installs what is missing, builds, and opens the viewer.
# Without a display the viewer runs under Xvfb and a screenshot is saved to
# build/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# Only what runs here: the viewer, jovtool and the icon (./test.sh builds the rest).
JOV_TARGETS="jovviewer jovtool jovviewer_icons" scripts/build.sh build

viewer=build/jovviewer
args=("$@")
if [ ${#args[@]} -eq 0 ] && [ -x build/jovtool ]; then
  # The demo libraries are written on first use; later runs open them as they were left.
  [ -f build/demo/demo8.jov ] || build/jovtool demo build/demo --quiet >/dev/null 2>&1 || true
  [ -f build/demo/demo8.jov ] && args=(build/demo/demo8.jov)
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$viewer" "${args[@]}"
fi

echo "No display: running the viewer under Xvfb and saving build/screenshot.png" >&2
JOV_SCREENSHOT=build/screenshot.png xvfb-run -a -s "-screen 0 1280x900x24" \
  "$viewer" "${args[@]}"
echo "Screenshot: build/screenshot.png" >&2
