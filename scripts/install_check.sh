#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a tiny consumer through find_package(ptmatch CONFIG).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
consumer=$(mktemp -d)
trap 'rm -rf "$prefix" "$consumer"' EXIT
cmake --install build/release --prefix "$prefix" >/dev/null
cat >"$consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
find_package(ptmatch CONFIG REQUIRED)
add_executable(consumer main.cc)
target_link_libraries(consumer PRIVATE ptmatch::ptmatch)
CMAKE
cat >"$consumer/main.cc" <<'CC'
#include <ptmatch/ptmatch.h>
int main() {
  xcPointMatcher tool;
  tool.train({xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(0, 2)}, xcPointMatcherDefs::eAutoDetect);
  return tool.isTrained() ? 0 : 1;
}
CC
cmake -S "$consumer" -B "$consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer/build" >/dev/null
"$consumer/build/consumer"
echo "install check: consumer built and ran against the installed package"
