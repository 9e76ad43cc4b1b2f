#!/usr/bin/env bash
# The README's main command: sets up, builds the ptmatch tool (release configuration) and runs its demo,
# which matches a fiducial among clutter, prints the poses and draws the match into build/release/demo.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target ptmatch_cli
picture="$PWD/build/release/demo.svg"
./build/release/tools/ptmatch/ptmatch demo --svg "$picture"
echo "picture of the match: $picture"
