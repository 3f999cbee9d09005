#!/usr/bin/env bash
# Installs every Debian package the project needs that is not there yet.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-wqy-microhei
  # The install test checks the desktop entry and asks the desktop's MIME database, through
  # xdg-mime (which reads it with the perl module), what a library file is.
  shared-mime-info xdg-utils libfile-mimeinfo-perl desktop-file-utils
  # An independent PNG reader for the tests of exported PNG files.
  python3-pil
  # The encoders of the pictures made to share: the contact sheet's PNG stream (zlib) and
  # the animated GIF (giflib).
  zlib1g-dev libgif-dev
  # The tests and benchmarks of edits that shift extents make XFS file systems on loop
  # devices (ext4's tools come with the system).
  xfsprogs e2fsprogs
)
# The fuzzing targets need clang and its sanitizer runtime.
if [ "${JOV_WITH_FUZZ:-0}" = "1" ]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
