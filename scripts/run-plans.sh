#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the shipped plans (plans/*.plan) with orna-run twice: on the
# program's built-in simulated converter, and on orna-sim's pseudo-terminal
# through --port, as a bench would. Each run writes its JUnit report into
# the build directory. Exits non-zero when a plan does not pass.
#
#   scripts/run-plans.sh [BIN_DIR]     (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$here/build}" && pwd)"
work=$(mktemp -d)
trap 'kill "${sim:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$here"

"$bin/orna-run" --junit "$bin/plans-builtin.xml" plans/*.plan

"$bin/orna-sim" --link "$work/orna" >"$work/sim.log" 2>&1 </dev/null &
sim=$!
for _ in $(seq 100); do
    [ -L "$work/orna" ] && break
    sleep 0.05
done
[ -L "$work/orna" ] || { echo "orna-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
"$bin/orna-run" --port "$work/orna" --junit "$bin/plans-orna-sim.xml" plans/*.plan
