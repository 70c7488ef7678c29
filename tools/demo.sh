#!/usr/bin/env bash
# Builds QuorinCAPI and the quorin tool (Release) and plays the sample story,
# examples/stories/CarrowPoint.xml, with `quorin play`, which loads the library at run time the
# way a game does. Arguments go to quorin play (--auto, --choose 2,1,3, --start ID, --help);
# `--host` first runs the DemoHost example instead (its own --auto, --verbose).
# Installs missing Debian 12 packages first (as root). The build prints nothing unless it fails.
# Build folder: ${QUORIN_BUILD_ROOT:-build}/demo.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."
dir=$(realpath -m "${QUORIN_BUILD_ROOT:-build}")/demo

tools/deps.sh base
mkdir -p "$dir"
log=$dir/build.log
echo "Building QuorinCAPI and quorin in $dir ..." >&2
if ! { cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORIN_BUILD_TESTS=OFF &&
  ninja -C "$dir" -j "${QUORIN_JOBS:-2}" quorin DemoHost; } > "$log" 2>&1; then
  cat "$log" >&2
  echo "demo.sh: the build failed; its output is above and in $log" >&2
  exit 1
fi
echo >&2
if [[ ${1:-} == --host ]]; then
  shift
  exec "$dir/bin/DemoHost" "$@"
fi
exec "$dir/bin/quorin" play examples/stories/CarrowPoint.xml "$@"
