#!/usr/bin/env bash
# Sets up, builds the release configuration and runs the example program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target train_example
./build/release/examples/train_example
