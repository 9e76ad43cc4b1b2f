#!/usr/bin/env bash
# Sets up, builds the release configuration with its tests and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release
