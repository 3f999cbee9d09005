#!/usr/bin/env bash
# Runs bench_shift on ext4 and XFS made on loop devices (as root; 4 GB images, room for
# the 1 GiB library and a new pair beside it where an edit still writes one), and on
# /dev/shm (tmpfs), where edits copy as they always did.  Usage: bench/shift.sh [BUILD]
set -euo pipefail
build=${1:-build}
bench="$(cd "$build" && pwd)/bench/bench_shift"
work=$(mktemp -d)
trap 'umount "$work/mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/mnt"
for fs in ext4 xfs; do
  if [ "$(id -u)" -ne 0 ]; then
    echo "$fs: skipped, mounting a loop device needs root"
    continue
  fi
  truncate -s 4G "$work/image"
  case $fs in
    ext4) mkfs.ext4 -q -F -b 4096 "$work/image" ;;
    xfs) mkfs.xfs -q -f "$work/image" ;;
  esac
  if ! mount -o loop "$work/image" "$work/mnt"; then
    echo "$fs: skipped, the loop mount failed"
    rm -f "$work/image"
    continue
  fi
  echo "== $fs"
  JOV_BENCH_DIR="$work/mnt" "$bench" || echo "$fs: the benchmark failed"
  umount "$work/mnt"
  rm -f "$work/image"
done
# Memory-backed: a file system that does not shift, where the edits copy.
refusing=/dev/shm
[ -d "$refusing" ] || refusing=${TMPDIR:-/tmp}
echo "== $(df --output=fstype "$refusing" | tail -1) ($refusing)"
JOV_BENCH_DIR="$refusing" "$bench"
