#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, library and targets under AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while, starting from the seed corpus in fuzz/corpus.
# Any crash, sanitizer report, leak, timeout or memory blow-up fails the script; libFuzzer leaves the
# input that caused it in <build dir>/artifacts.
#
#   bash scripts/fuzz.sh [seconds per target, default 30]
#   bash scripts/fuzz.sh --replay CORPUS_ROOT   # run every input of CORPUS_ROOT/<target> once, sanitized
#
# A fast campaign runs an unsanitized build (-DPTMATCH_FUZZ_UNSANITIZED=ON) and then replays its corpora here.
#
# Environment: PTMATCH_FUZZ_BUILD_DIR (default build/fuzz), PTMATCH_FUZZ_JOBS (build jobs, default 2).
# A longer campaign: bash scripts/fuzz.sh 3600 (one hour per target); the scratch corpora in the build
# directory carry over from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."

replay=""
if [ "${1:-}" = "--replay" ]; then
  replay="${2:?fuzz.sh --replay needs the folder holding the corpora}"
  seconds=0
else
  seconds="${1:-30}"
fi
build_dir="${PTMATCH_FUZZ_BUILD_DIR:-build/fuzz}"
jobs="${PTMATCH_FUZZ_JOBS:-2}"
targets=(fuzz_archive_load fuzz_matcher_run fuzz_pt_to_grid_map fuzz_grid_corresponder fuzz_grid_indexer)

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is needed (libFuzzer)" >&2; exit 1; }

# A build directory configured already (such as the sanitize preset's, which builds the fuzzers beside the
# tests) is used as it is.
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DPTMATCH_SANITIZE=ON -DPTMATCH_BUILD_FUZZERS=ON \
    -DPTMATCH_BUILD_TESTS=OFF -DPTMATCH_BUILD_EXAMPLES=OFF -DPTMATCH_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$build_dir" -j "$jobs" --target "${targets[@]}"

mkdir -p "$build_dir/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus_name="${target#fuzz_}"
  # New inputs go to a scratch corpus in the build tree; the checked-in seeds stay as they are.
  work_corpus="$build_dir/corpus/$corpus_name"
  mkdir -p "$work_corpus"
  if [ -n "$replay" ]; then
    echo "== $target replaying $replay/$corpus_name"
    inputs=("$replay/$corpus_name")
    limit=(-runs=0)
  else
    echo "== $target for ${seconds}s"
    inputs=("$work_corpus" "fuzz/corpus/$corpus_name")
    limit=(-max_total_time="$seconds")
  fi
  if ! "$build_dir/fuzz/$target" "${inputs[@]}" "${limit[@]}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb=1024 -artifact_prefix="$build_dir/artifacts/$target-" -print_final_stats=1 2>"$build_dir/$target.log"; then
    echo "fuzz.sh: $target found a problem; see $build_dir/$target.log and $build_dir/artifacts" >&2
    tail -n 40 "$build_dir/$target.log" >&2
    status=1
  fi
  grep -E 'stat::number_of_executed_units' "$build_dir/$target.log" || true
done
exit "$status"
