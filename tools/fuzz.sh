#!/bin/sh
# Builds the Sprig fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for a bounded time on a copy of the checked-in corpus. Any crash, leak or sanitizer
# report fails the run.
#   tools/fuzz.sh [seconds]   (default 60)
set -eu
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORIN_FUZZ_BUILD_DIR:-$root/build-fuzz}"

CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIN_BUILD_FUZZ=ON -DQUORIN_BUILD_EXAMPLES=OFF >/dev/null
ninja -C "$build" -j2 sprig_fuzz

# New inputs go to a scratch corpus so the checked-in seeds stay small.
work="$build/fuzz-corpus"
mkdir -p "$work"
cp "$root"/tests/sprig/fuzz/corpus/* "$work"/
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
"$build/bin/sprig_fuzz" -max_total_time="$seconds" -max_len=256 -timeout=10 \
  -print_final_stats=1 "$work"
