#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Two builds of the program side by side in one run: the reply wait with no
# answer (wall time and processor share of a 30000-poll and a 10000-poll
# wait), the wake-up after the last reply byte (to the read that takes it,
# and on to the end of the exchange), and the exchange time of an
# SCPI query and an X3.28 poll at 38400 baud against orna-sim pacing its
# replies at the line rate, with the raw-termios floor beside them. The
# window is shown on the platform QT_QPA_PLATFORM names (xcb on a display
# for a real one; offscreen otherwise). Never run by ctest.
#
#   bench/wait-compare.sh BEFORE_BUILD AFTER_BUILD [ROUNDS] [EXCHANGES]
#
# Each build directory holds bench/bench_wait, bench/bench_exchange,
# bench/floor_exchange and orna-sim (configure with -DORNA_BENCH=ON).
set -euo pipefail
before=$1 after=$2 rounds=${3:-3} exchanges=${4:-300}
out=$(mktemp -d)
trap 'kill "${sim:-}" 2>/dev/null || true; rm -rf "$out"' EXIT

start_sim() { # build log
    "$1/orna-sim" --turnaround 0 --baud 38400 >"$2" 2>&1 </dev/null &
    sim=$!
    for _ in $(seq 100); do
        dev=$(head -1 "$2" | sed -n 's/^orna-sim: serving on //p')
        [ -n "$dev" ] && return 0
        sleep 0.05
    done
    echo "orna-sim did not start" >&2
    return 1
}

for r in $(seq "$rounds"); do
    # The builds take turns going first.
    order=(before after)
    [ $((r % 2)) = 0 ] && order=(after before)
    for who in "${order[@]}"; do
        dir=${!who}
        "$dir/bench/bench_wait" 200 >>"$out/wait-$who.txt" 2>/dev/null || echo "bench_wait ($who) failed" >&2
    done
    start_sim "$after" "$out/sim.log"
    for kind in scpi x328; do
        "$after/bench/floor_exchange" "$dev" "$kind" "$exchanges" "$out/floor-$kind.txt" >/dev/null 2>&1 ||
            echo "floor_exchange failed" >&2
        for who in "${order[@]}"; do
            dir=${!who}
            "$dir/bench/bench_exchange" "$dev" "$kind" "$exchanges" "$out/window-$who-$kind.txt" >/dev/null 2>&1 ||
                echo "bench_exchange ($who, $kind) failed" >&2
        done
    done
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
done

python3 - "$out" <<'PY'
import statistics, sys, os
out = sys.argv[1]
def kv(path):
    vals = {}
    for line in open(path):
        if '=' in line:
            k, v = line.strip().split('=', 1)
            try:
                vals.setdefault(k, []).append(float(v))
            except ValueError:
                pass
    return {k: statistics.median(v) for k, v in vals.items()}
def times(path):
    return statistics.median([float(l) for l in open(path) if l.strip()]) if os.path.exists(path) else float('nan')
w = {who: kv(f"{out}/wait-{who}.txt") for who in ("before", "after")}
print("%-28s %12s %12s" % ("figure (median)", "before", "after"))
for key, label in [("wait30k_s", "30000-poll wait, s"), ("wait30k_cpu_pct", "  processor share, %"),
                   ("wait10k_s", "10000-poll wait, s"), ("wait10k_cpu_pct", "  processor share, %"),
                   ("latency_median_ms", "last byte to end, ms"),
                   ("wake_median_ms", "  byte to its read, ms"), ("wake_p90_ms", "    90th percentile, ms"),
                   ("read_to_end_median_ms", "  read to end, ms")]:
    print("%-28s %12.3f %12.3f" % (label, w["before"].get(key, float('nan')), w["after"].get(key, float('nan'))))
for kind in ("scpi", "x328"):
    floor = times(f"{out}/floor-{kind}.txt")
    b, a = times(f"{out}/window-before-{kind}.txt"), times(f"{out}/window-after-{kind}.txt")
    print("%-28s %12.1f %12.1f   floor %.1f us: %.2fx -> %.2fx" % (f"{kind} exchange, us", b, a, floor, b / floor, a / floor))
PY
