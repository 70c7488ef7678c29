#!/usr/bin/env bash
# Builds QuorinCAPI and the demo host (Release) and runs bin/DemoHost, which loads the library
# at run time the way a game does. Installs missing Debian 12 packages first (as root).
# Build folder: ${QUORIN_BUILD_ROOT:-build}/demo.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."
dir=$(realpath -m "${QUORIN_BUILD_ROOT:-build}")/demo

tools/deps.sh base
cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORIN_BUILD_TESTS=OFF
ninja -C "$dir" -j "${QUORIN_JOBS:-2}" DemoHost
echo
"$dir/bin/DemoHost" "$@"
