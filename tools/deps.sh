#!/usr/bin/env bash
# Makes sure the tools and libraries that a build needs are present. Nothing is installed when
# they all are; otherwise the missing Debian 12 packages are installed with apt-get (as root, or
# through sudo), and where there is no apt-get the missing items are named and the script stops.
#   tools/deps.sh GROUP...          check, and install what the groups need
#   tools/deps.sh --list GROUP...   print the Debian package names only
# Groups: base (CMake, Ninja, GCC), tests (GoogleTest, the reference libraries of the
# differential tests, pkg-config for the installed-package check, Graphviz and script(1) for the
# quorin tests), sanitize (Clang and its
# sanitizer runtimes), windows (mingw-w64 and Wine), bench (Google Benchmark and the libraries
# it compares against).
set -euo pipefail

# Each requirement is probe=package: the probe is a command on PATH or a file (a pattern)
# that the Debian package installs.
declare -A groups=(
  [base]="cmake=cmake ninja=ninja-build g++=g++"
  [tests]="/usr/src/googletest/CMakeLists.txt=googletest /usr/include/gtest/gtest.h=libgtest-dev
           /usr/include/zlib.h=zlib1g-dev /usr/include/libxml2/libxml/parser.h=libxml2-dev
           pkg-config=pkg-config dot=graphviz script=bsdutils"
  [sanitize]="clang++=clang
              /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a=libclang-rt-14-dev"
  [windows]="x86_64-w64-mingw32-g++-posix=g++-mingw-w64-x86-64
             x86_64-w64-mingw32-objdump=binutils-mingw-w64-x86-64 /usr/lib/wine/wine64=wine64
             wineserver=wine"
  [bench]="/usr/include/benchmark/benchmark.h=libbenchmark-dev /usr/include/zlib.h=zlib1g-dev
           /usr/include/mimalloc.h=libmimalloc-dev /usr/include/lua5.4/lua.h=liblua5.4-dev
           /usr/include/muParser.h=libmuparser-dev pkg-config=pkg-config
           /usr/include/pugixml.hpp=libpugixml-dev /usr/include/expat.h=libexpat1-dev"
)

present() {
  if [[ $1 == /* ]]; then compgen -G "$1" > /dev/null; else command -v "$1" > /dev/null; fi
}

list=false
if [[ ${1:-} == --list ]]; then
  list=true
  shift
fi
packages=() missing=() absent=()
for group in "$@"; do
  [[ -v groups[$group] ]] || { echo "deps.sh: unknown group '$group'" >&2; exit 2; }
  read -r -d '' -a requirements <<< "${groups[$group]}" || true
  for requirement in "${requirements[@]}"; do
    packages+=("${requirement##*=}")
    $list || present "${requirement%=*}" || { missing+=("${requirement##*=}"); absent+=("${requirement%=*}"); }
  done
done
if $list; then
  printf '%s\n' "${packages[@]}" | sort -u | tr '\n' ' '
  echo
  exit 0
fi

if [[ ${#missing[@]} -eq 0 ]]; then
  # Everything is there; an older CMake than the build needs is the one thing left to catch.
  version=$(cmake --version 2> /dev/null | sed -n '1s/[^0-9]*\([0-9][0-9.]*\).*/\1/p')
  if [[ " $* " == *" base "* ]] && ! printf '3.25\n%s\n' "$version" | sort -V -C; then
    echo "deps.sh: CMake 3.25 or later is needed; this one is ${version:-unknown}" >&2
    exit 1
  fi
  exit 0
fi
readarray -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
if ! command -v apt-get > /dev/null; then
  echo "deps.sh: missing: ${absent[*]}" >&2
  echo "deps.sh: there is no apt-get here to install them; install them with this system's" \
    "package manager (on Debian 12 they come with: ${missing[*]}), then run again" >&2
  exit 1
fi

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
