#!/usr/bin/env bash
# Builds QuorinCAPI and the demo host (Release) and runs bin/DemoHost, which loads the library
# at run time the way a game does. Arguments go to DemoHost (--auto, --verbose, --help).
# Installs missing Debian 12 packages first (as root). The build prints nothing unless it fails.
# Build folder: ${QUORIN_BUILD_ROOT:-build}/demo.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."
dir=$(realpath -m "${QUORIN_BUILD_ROOT:-build}")/demo

tools/deps.sh base
mkdir -p "$dir"
log=$dir/build.log
echo "Building QuorinCAPI and DemoHost in $dir ..." >&2
if ! { cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORIN_BUILD_TESTS=OFF &&
  ninja -C "$dir" -j "${QUORIN_JOBS:-2}" DemoHost; } > "$log" 2>&1; then
  cat "$log" >&2
  echo "demo.sh: the build failed; its output is above and in $log" >&2
  exit 1
fi
echo >&2
exec "$dir/bin/DemoHost" "$@"
