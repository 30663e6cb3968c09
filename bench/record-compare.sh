#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the bench record costs: the X3.28 poll (C1) through the shown window at
# 38400 baud against orna-sim, with the line monitor shown and a continuous
# log written, and with both off, taking turns in one run; then the resident
# memory over many exchanges with both on (the monitor's ring is bounded).
# Never run by ctest.
#
#   bench/record-compare.sh [BUILD] [ROUNDS] [POLLS] [MEMORY_EXCHANGES]
#       defaults: build 5 200 100000 (five rounds of 200 polls a side)
set -euo pipefail
build=${1:-build} rounds=${2:-5} polls=${3:-200} many=${4:-100000}
out=$(mktemp -d)
trap 'kill "${sim:-}" 2>/dev/null || true; rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

"$build/orna-sim" --turnaround 0 --baud 38400 >"$out/sim.log" 2>&1 </dev/null &
sim=$!
dev=
for _ in $(seq 100); do
    dev=$(head -1 "$out/sim.log" | sed -n 's/^orna-sim: serving on //p')
    [ -n "$dev" ] && break
    sleep 0.05
done
[ -n "$dev" ] || { echo "orna-sim did not start" >&2; exit 1; }

mkdir -p "$out/logs"
for r in $(seq "$rounds"); do
    order=(off on)
    [ $((r % 2)) = 0 ] && order=(on off)
    for who in "${order[@]}"; do
        args=()
        [ "$who" = on ] && args=(--record "$out/logs")
        "$build/bench/bench_exchange" "${args[@]}" "$dev" x328 "$polls" "$out/poll-$who.txt" >/dev/null
    done
done

python3 - "$out" <<'PY'
import statistics, sys
out = sys.argv[1]
def load(who):
    return [float(x) for x in open(f"{out}/poll-{who}.txt")]
off, on = load("off"), load("on")
mo, mn = statistics.median(off), statistics.median(on)
print(f"X3.28 poll C1, 38400 baud: {len(off)} a side")
print(f"  monitor and log off: median {mo/1000:.3f} ms")
print(f"  monitor and log on:  median {mn/1000:.3f} ms  ({(mn/mo-1)*100:+.1f} %)")
PY
ls -l "$out"/logs | tail -n +2 | awk '{s+=$5} END {print "  log files written: " NR ", " s " bytes"}'

rm -rf "$out/logs"/*
echo "memory over $many exchanges, monitor shown and log on:"
"$build/bench/bench_exchange" --record "$out/logs" --memory "$dev" "$many" | sed 's/^/  /'
