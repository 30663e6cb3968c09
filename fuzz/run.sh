#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang in build-fuzz/ (installing clang and
# its run-time libraries when missing) and runs each target for SECONDS on a
# copy of its corpus in fuzz/corpus/<target>/, so the kept corpus does not
# grow. Fails on any crash, hang (one input over 10 s), leak, sanitizer report
# or broken check; the input that did it is kept in build-fuzz/artifacts/.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     (default 30 s, every target)
#
# ORNA_FUZZ_RUNS=N ends each target after N executions if that comes first
# (the long run: ORNA_FUZZ_RUNS=10000000 fuzz/run.sh 3600).
#
# With ORNA_FUZZ_WITH_TESTS=1 the same build also holds the test suite, which
# runs first under the same sanitizers (as scripts/test-sanitized.sh runs it
# with gcc): one instrumented build serves both, as CI uses it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
secs="${1:-30}"
[ $# -gt 0 ] && shift
build="${ORNA_FUZZ_BUILD_DIR:-$here/build-fuzz}"
all=(scpi x328_select x328_poll xon_cmd xon_query link_open table_read sim_engine)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

with_tests="${ORNA_FUZZ_WITH_TESTS:-0}"
if [ "$with_tests" = 1 ]; then
  testing=ON
  build_targets="" # everything: the suite, the programs it starts, the fuzz targets
else
  testing=OFF
  build_targets="$(printf 'fuzz_%s ' "${targets[@]}")"
fi
ORNA_BUILD_DIR="$build" \
ORNA_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev llvm-14 ${ORNA_EXTRA_PACKAGES:-}" \
ORNA_CMAKE_ARGS="-DCMAKE_CXX_COMPILER=clang++-14 -DORNA_FUZZ=ON -DBUILD_TESTING=$testing" \
ORNA_BUILD_TARGETS="$build_targets" \
  "$here/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
[ -x /usr/bin/llvm-symbolizer-14 ] && export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14

if [ "$with_tests" = 1 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    ORNA_TEST_USER="$("$here/scripts/unprivileged-user.sh")"
    export ORNA_TEST_USER
  fi
  (
    export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:halt_on_error=1"
    cd "$build"
    ctest --output-on-failure -j"$(nproc)"
  )
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"

run_one() {
  local t="$1" dir="$work/$1" max_len=512
  [ "$t" = sim_engine ] && max_len=4096
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$here/fuzz/corpus/$t/"* "$dir/corpus/"
  set +e
  local runs=()
  [ -n "${ORNA_FUZZ_RUNS:-}" ] && runs=(-runs="$ORNA_FUZZ_RUNS")
  "$build/fuzz/fuzz_$t" "$dir/corpus" -max_total_time="$secs" "${runs[@]}" -timeout=10 -rss_limit_mb=2560 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$dir/artifacts/" >"$dir/log" 2>&1
  echo $? >"$dir/status"
  set -e
}

jobs="${ORNA_FUZZ_JOBS:-$(nproc)}"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait

failed=0
printf '%-12s %-6s %10s %8s %6s %6s %8s %6s\n' target result execs exec/s cov ft corpus secs
for t in "${targets[@]}"; do
  dir="$work/$t"
  status="$(cat "$dir/status" 2>/dev/null || echo 99)"
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")"
  size="$(ls "$dir/corpus" | wc -l)"
  # Coverage at the end: edges (cov) and features (ft) as libFuzzer counts them.
  cov="$(grep -E '^#[0-9]+' "$dir/log" | tail -1 | sed -n 's/.* cov: \([0-9]*\).*/\1/p')"
  ft="$(grep -E '^#[0-9]+' "$dir/log" | tail -1 | sed -n 's/.* ft: \([0-9]*\).*/\1/p')"
  result=ok
  if [ "$status" != 0 ] || ls "$dir/artifacts/"* >/dev/null 2>&1; then
    result=FAILED
    failed=1
  fi
  took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$dir/log")"
  printf '%-12s %-6s %10s %8s %6s %6s %8s %6s\n' "$t" "$result" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$size" "${took:-$secs}"
done
for t in "${targets[@]}"; do
  dir="$work/$t"
  if [ "$(cat "$dir/status" 2>/dev/null || echo 99)" != 0 ] || ls "$dir/artifacts/"* >/dev/null 2>&1; then
    echo "---- fuzz_$t (exit $(cat "$dir/status" 2>/dev/null)) ----"
    grep -v -E '^#[0-9]+ ' "$dir/log" | tail -60
    mkdir -p "$artifacts/$t"
    cp "$dir/artifacts/"* "$artifacts/$t/" 2>/dev/null || true
    echo "Inputs kept in $artifacts/$t/; replay: $build/fuzz/fuzz_$t <file>"
  fi
done
exit "$failed"
