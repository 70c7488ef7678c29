#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for its share of a bounded time on a copy of its checked-in corpus. Any crash, leak or
# sanitizer report fails the run.
#   tools/fuzz.sh [seconds]   (default 60, shared by the targets)
set -eu
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORIN_FUZZ_BUILD_DIR:-$root/build-fuzz}"

# Each target as name:corpus folder:longest input.
targets="sprig_fuzz:tests/sprig/fuzz/corpus:256 xml_fuzz:tests/interchange/fuzz/corpus:8192
  import_fuzz:tests/interchange/fuzz/corpus:8192 binary_fuzz:tests/interchange/fuzz/binary-corpus:4096"
count=$(echo $targets | wc -w)
share=$((seconds / count))
[ "$share" -ge 1 ] || share=1

CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIN_BUILD_FUZZ=ON -DQUORIN_BUILD_EXAMPLES=OFF >/dev/null
ninja -C "$build" -j2 $(for entry in $targets; do echo "${entry%%:*}"; done)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for entry in $targets; do
  name="${entry%%:*}"
  rest="${entry#*:}"
  corpus="${rest%%:*}"
  longest="${rest##*:}"
  # New inputs go to a scratch corpus so the checked-in seeds stay small.
  work="$build/fuzz-corpus/$name"
  mkdir -p "$work"
  cp "$root/$corpus"/* "$work"/
  echo "== $name for ${share} s"
  (cd "$build" && "$build/bin/$name" -max_total_time="$share" -max_len="$longest" -timeout=10 \
    -print_final_stats=1 "$work")
done
