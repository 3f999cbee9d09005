#!/usr/bin/env bash
# Builds one fuzzing target and runs it on a copy of its seed corpus.
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# TARGET is library, bitmap, parseinteger, placement or edit.  Builds into build-fuzz/ with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer; the growing corpus is kept in
# build-fuzz/corpus/TARGET and any crashing input in build-fuzz/artifacts/TARGET/.
# Exits non-zero when the target finds a crash, a leak, a hang, a sanitizer report or
# an allocation over the limits below.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  echo "usage: fuzz/run.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
case "$target" in
  library) max_len=8192 ;;
  edit) max_len=8192 ;;
  bitmap) max_len=4096 ;;
  parseinteger) max_len=256 ;;
  placement) max_len=256 ;;
  *) echo "unknown target: $target (library, bitmap, parseinteger, placement, edit)" >&2; exit 2 ;;
esac

JOV_WITH_FUZZ=1 scripts/setup.sh
build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --parallel 2 --target "fuzz_$target"

corpus="$build/corpus/$target"
artifacts="$build/artifacts/$target"
mkdir -p "$corpus" "$artifacts"
cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen
# Inputs are at most max_len bytes, so no single allocation of 64 MiB or more, and no
# 1 GiB of memory in all, can be what a sound reader makes of one.
exec "$build/fuzz_$target" "$corpus" \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
  -rss_limit_mb=1024 -malloc_limit_mb=64 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@"
