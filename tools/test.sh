#!/usr/bin/env bash
# Builds and tests Quorin the way CI does, in five stages:
#   release   Release build (GCC), every test
#   sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build (GCC), every test
#   thread    ThreadSanitizer build (Clang), the tests labelled "threaded"
#   windows   mingw-w64 cross build of QuorinCAPI.dll and the tests, every test under Wine
#   fuzz      the fuzz targets (Sprig parser and evaluator, XML reader) under libFuzzer (Clang,
#             ASan + UBSan), sharing ${QUORIN_FUZZ_SECONDS:-60} seconds; any crash, leak or
#             sanitizer report fails it
# Usage: tools/test.sh [STAGE...]   (all five by default)
# Installs missing Debian 12 packages first (as root). Build folders are
# ${QUORIN_BUILD_ROOT:-build}/<stage>; ${QUORIN_JOBS:-2} parallel jobs. Every stage runs even
# when an earlier one failed; the exit code is non-zero when any failed.
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "$script")/.."
source_dir=$PWD
build_root=$(realpath -m "${QUORIN_BUILD_ROOT:-build}")
jobs=${QUORIN_JOBS:-2}
all_stages=(release sanitize thread windows fuzz)

# Configures and builds one stage: build DIR [cmake arguments...]. Builds everything unless
# the stage names its targets in ninja_targets.
ninja_targets=()
build() {
  local dir=$1
  shift
  cmake -G Ninja -S "$source_dir" -B "$dir" "$@" &&
    ninja -C "$dir" -j "$jobs" "${ninja_targets[@]}"
}

# Runs a command with its output in LOG, shown only when it fails: quiet LOG command...
quiet() {
  local log=$1
  shift
  "$@" > "$log" 2>&1 || { cat "$log"; return 1; }
}

# Runs ctest in DIR and keeps its log, whose summary line goes into the final table. A program
# rather than a function, so that a launcher (setarch) can run it.
run_tests() { bash "$script" --ctest "$@"; }

stage_release() {
  local extra=()
  # Compile the benchmarks too, so they cannot rot unnoticed (they are not run here).
  if compgen -G "bench/*/*.cpp" > /dev/null; then extra+=(-DQUORIN_BUILD_BENCH=ON); fi
  timed build build "$1" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ "${extra[@]}"
  timed tests run_tests "$1" -j "$jobs"
}

stage_sanitize() {
  # Assertions stay on (no NDEBUG); -O1 keeps the instrumented tests reasonably fast.
  timed build build "$1" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DQUORIN_SANITIZE=address,undefined
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  timed tests run_tests "$1" -j "$jobs"
}

stage_thread() {
  ninja_targets=(quorin_threaded_tests)
  timed build build "$1" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DQUORIN_SANITIZE=thread -DQUORIN_BUILD_EXAMPLES=OFF
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  # TSan of Clang 14 cannot map its shadow memory under some kernels' address randomisation;
  # run without it where the system allows that.
  local launcher=()
  if setarch "$(uname -m)" -R true 2> /dev/null; then launcher=(setarch "$(uname -m)" -R); fi
  # One test at a time: the threaded tests spin on locks and want both cores.
  timed tests "${launcher[@]}" bash "$script" --ctest "$1" -L '^threaded$'
}

stage_windows() {
  timed build build "$1" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release
  # Headless Wine with one prefix and one persistent server for all tests: without the
  # server every test process pays for starting one.
  export WINEPREFIX=$1/wineprefix WINEARCH=win64 WINEDEBUG=-all,err+module
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$WINEPREFIX"
  wineserver -p || true # exits 2 when a server for this prefix already runs
  trap 'wineserver -k || true' EXIT
  # Creating the prefix prints warnings that are expected here (no 32-bit Wine); keep them
  # for when it fails.
  timed wineboot quiet "$1/wineboot.log" wineboot -i
  timed tests run_tests "$1" -j "$jobs"
}

stage_fuzz() {
  # fuzz.sh builds the target in the given folder, then runs it on a copy of the seed corpus.
  timed fuzz env QUORIN_FUZZ_BUILD_DIR="$1" sh tools/fuzz.sh "${QUORIN_FUZZ_SECONDS:-60}"
}

# Runs a command and appends "<label> <seconds>" to the stage's timing file, also when the
# command fails (its status is passed on).
timed() {
  local label=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  local seconds=$((SECONDS - start))
  echo "$label ${seconds}s" >> "$timing_file"
  echo "== $stage: $label took ${seconds}s"
  return $status
}

if [[ ${1:-} == --ctest ]]; then
  shift
  dir=$1
  shift
  status=0
  ctest --test-dir "$dir" --output-on-failure --no-tests=error --timeout 600 "$@" \
    2>&1 | tee "$dir/ctest.log" || status=$?
  # Under Wine a program now and then fails to start while ctest lists its tests, which ends
  # the run before any test ran; only that failure earns one more try.
  if [[ $status -ne 0 ]] && grep -q "Error running test executable" "$dir/ctest.log"; then
    echo "== listing the tests failed to start a program; running ctest once more"
    status=0
    ctest --test-dir "$dir" --output-on-failure --no-tests=error --timeout 600 "$@" \
      2>&1 | tee "$dir/ctest.log" || status=$?
  fi
  # Under Wine a test program now and then fails to start (it fails at once and prints nothing).
  # The failed tests earn one more run; the stage passes only when they all pass then.
  if [[ $status -ne 0 && -n ${WINEPREFIX:-} ]] && grep -q "tests failed out of" "$dir/ctest.log"; then
    first=$(grep -E "tests failed out of [0-9]+" "$dir/ctest.log" | tail -1)
    echo "== under Wine: running the failed tests once more"
    status=0
    ctest --test-dir "$dir" --output-on-failure --timeout 600 --rerun-failed \
      2>&1 | tee "$dir/ctest-rerun.log" || status=$?
    if [[ $status -eq 0 ]]; then
      total=${first##* out of }
      failed=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<< "$first")
      echo "100% tests passed, 0 tests failed out of $total ($failed passed when run again under Wine)" \
        >> "$dir/ctest.log"
    fi
  fi
  exit $status
fi
if [[ ${1:-} == --stage ]]; then
  stage=$2
  dir=$build_root/$stage
  timing_file=$dir/timings
  mkdir -p "$dir"
  : > "$timing_file"
  "stage_$stage" "$dir"
  exit 0
fi

stages=("$@")
[[ ${#stages[@]} -gt 0 ]] || stages=("${all_stages[@]}")
for stage in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $stage "* ]] || { echo "unknown stage '$stage'" >&2; exit 2; }
done

needed=(base tests bench)
for stage in "${stages[@]}"; do
  case $stage in
    thread | fuzz) needed+=(sanitize) ;;
    windows) needed+=(windows) ;;
  esac
done
tools/deps.sh "${needed[@]}"

failed=0
results=()
total_start=$SECONDS
for stage in "${stages[@]}"; do
  echo
  echo "==================== $stage ===================="
  start=$SECONDS
  if bash "$script" --stage "$stage"; then result=passed; else result=FAILED; failed=1; fi
  dir=$build_root/$stage
  summary=$(grep -E "tests passed|No tests were found" "$dir/ctest.log" 2> /dev/null | tail -1 || true)
  if [[ $stage == fuzz ]]; then
    summary="fuzz targets: no crash, leak or sanitizer report in ${QUORIN_FUZZ_SECONDS:-60} s"
    [[ $result == passed ]] || summary="fuzz targets: failure found (see its output above)"
  fi
  timings=$(tr '\n' ' ' < "$dir/timings" 2> /dev/null || true)
  results+=("$(printf '%-9s %-7s %5ss  (%s)  %s' "$stage" "$result" $((SECONDS - start)) \
    "${timings% }" "${summary:-no test run}")")
done

echo
echo "==================== summary ===================="
printf '%s\n' "${results[@]}"
echo "total $((SECONDS - total_start))s"
exit $failed
