#!/usr/bin/env bash
# Installs the release build into a scratch prefix and uses it as a user would: a tiny consumer built
# through find_package(ptmatch CONFIG) against the static and the shared library, the same consumer built
# through pkg-config, and the installed ptmatch executable. Expects build/release to be built.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
consumer=$(mktemp -d)
trap 'rm -rf "$prefix" "$consumer"' EXIT
cmake --install build/release --prefix "$prefix" >/dev/null

cat >"$consumer/main.cc" <<'CC'
#include <ptmatch/ptmatch.h>
int main() {
  xcPointMatcher tool;
  tool.train({xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(0, 2)}, xcPointMatcherDefs::eAutoDetect);
  return tool.isTrained() ? 0 : 1;
}
CC
cat >"$consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
find_package(ptmatch 0.1 CONFIG REQUIRED)
add_executable(consumer_static main.cc)
target_link_libraries(consumer_static PRIVATE ptmatch::ptmatch)
add_executable(consumer_shared main.cc)
target_link_libraries(consumer_shared PRIVATE ptmatch::ptmatch_shared)
CMAKE
cmake -S "$consumer" -B "$consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer/build" -j 2 >/dev/null
"$consumer/build/consumer_static"
"$consumer/build/consumer_shared"
# The shared consumer must really load the library, not have it copied in.
readelf -d "$consumer/build/consumer_static" | grep -q 'NEEDED.*libptmatch' &&
  { echo "install check: the static consumer depends on libptmatch.so" >&2; exit 1; }
readelf -d "$consumer/build/consumer_shared" | grep -q 'NEEDED.*\[libptmatch\.so\.' ||
  { echo "install check: the shared consumer does not load libptmatch.so" >&2; exit 1; }
echo "install check: find_package consumers (static and shared) built and ran"

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion ptmatch)" = "$(sed -n 's/^project(ptmatch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  { echo "install check: ptmatch.pc gives the wrong version" >&2; exit 1; }
# shellcheck disable=SC2046  # pkg-config's output is meant to split into words
c++ -std=c++17 "$consumer/main.cc" -o "$consumer/pc_consumer" $(pkg-config --cflags --libs ptmatch)
LD_LIBRARY_PATH="$prefix/lib" "$consumer/pc_consumer"
echo "install check: pkg-config consumer built and ran"

"$prefix/bin/ptmatch" --version
(cd "$consumer" && "$prefix/bin/ptmatch" demo --svg demo.svg >/dev/null && grep -q '<svg' demo.svg)
echo "install check: the installed ptmatch ran its demo"
