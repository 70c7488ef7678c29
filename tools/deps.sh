#!/usr/bin/env bash
# Installs the Debian 12 packages that a build needs, when any is missing (as root, or through
# sudo when it is available).
#   tools/deps.sh GROUP...          install what the groups need
#   tools/deps.sh --list GROUP...   print the package names only
# Groups: base (CMake, Ninja, GCC), tests (GoogleTest and the reference libraries of the
# differential tests), sanitize (Clang and its sanitizer runtimes), windows (mingw-w64 and
# Wine), bench (Google Benchmark and the libraries it compares against).
set -euo pipefail

declare -A groups=(
  [base]="cmake ninja-build g++"
  [tests]="googletest libgtest-dev zlib1g-dev libxml2-dev"
  [sanitize]="clang libclang-rt-14-dev"
  [windows]="g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 wine"
  [bench]="libbenchmark-dev zlib1g-dev libmimalloc-dev liblua5.4-dev libmuparser-dev pkg-config libpugixml-dev libexpat1-dev"
)

list=false
if [[ ${1:-} == --list ]]; then
  list=true
  shift
fi
packages=()
for group in "$@"; do
  [[ -v groups[$group] ]] || { echo "deps.sh: unknown group '$group'" >&2; exit 2; }
  read -r -a names <<< "${groups[$group]}"
  packages+=("${names[@]}")
done
if $list; then
  printf '%s\n' "${packages[@]}" | sort -u | tr '\n' ' '
  echo
  exit 0
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [[ $status == installed ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
readarray -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo > /dev/null || { echo "deps.sh: run as root to install ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
