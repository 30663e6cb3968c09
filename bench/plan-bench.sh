#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What running a plan costs, against orna-sim; never run by ctest.
#
#   bench/plan-bench.sh [POLLS] [MEMORY_STEPS] [STARTUPS]   (defaults 10000 100000 11)
#
# 1. Step time: a plan of POLLS polls of C1 (orna-run, the X3.28 link open
#    at 38400 baud 8N1, orna-sim pacing its replies at the line rate), and
#    the raw-termios floor (bench/floor_exchange.c) doing the same polls on
#    the same far end, in turns of a fifth each: medians and their ratio.
# 2. Start-up: from orna-run's start to its first byte on the line (a
#    pseudo-terminal whose far end notes when the byte comes), STARTUPS times.
# 3. Memory: a plan of MEMORY_STEPS polls against orna-sim unpaced, orna-run's
#    resident memory sampled every 0.2 s; the growth after the warm-up (the
#    first tenth of the run).
# Prints key=value lines; the raw figures stay in build-bench/plan-bench/.
set -euo pipefail
source "$(dirname "$0")/common.sh"
POLLS=${1:-10000} MEMORY_STEPS=${2:-100000} STARTUPS=${3:-11}
install_missing
build orna-run floor_exchange
OUT=$BUILD/plan-bench
rm -rf "$OUT" && mkdir -p "$OUT"
trap stop_sim EXIT

x328plan() { # FILE DEVICE BAUD COUNT
    printf 'open %s %s 8N1\nsend SYST:LANG X3.28\npause 200\naddress 1\nexpect Device address set to 1\nrepeat %s\nquery C1\nexpect Received EOT\nend\nsend @@@\n' \
        "$2" "$3" "$4" >"$1"
}

# ---- 1. Step time, 38400 baud, in turns.
start_sim "$OUT/sim-paced.log" --turnaround 0 --baud 38400
turn=$((POLLS / 5))
x328plan "$OUT/polls.plan" "$SIM_DEVICE" 38400 "$turn"
: >"$OUT/floor.txt"
: >"$OUT/plan-steps.txt"
for round in 1 2 3 4 5; do
    "$BUILD/bench/floor_exchange" "$SIM_DEVICE" x328 "$turn" "$OUT/floor-$round.txt" >/dev/null
    cat "$OUT/floor-$round.txt" >>"$OUT/floor.txt"
    "$BUILD/orna-run" "$OUT/polls.plan" >"$OUT/plan-$round.txt" || { echo "plan failed:"; grep -v '^PASS' "$OUT/plan-$round.txt" | head; exit 1; }
    # The poll steps' times in microseconds.
    sed -n 's/^PASS *\([0-9.]*\) ms  line 7 #.*query C1$/\1/p' "$OUT/plan-$round.txt" |
        awk '{ printf "%.1f\n", $1 * 1000 }' >>"$OUT/plan-steps.txt"
done
stop_sim
"$PY" - "$OUT" <<'PY'
import statistics, sys
out = sys.argv[1]
floor = [float(x) for x in open(out + "/floor.txt")]
plan = [float(x) for x in open(out + "/plan-steps.txt")]
mf, mp = statistics.median(floor), statistics.median(plan)
print("poll_floor_median_us=%.1f n=%d" % (mf, len(floor)))
print("poll_plan_step_median_us=%.1f n=%d" % (mp, len(plan)))
print("plan_over_floor=%.3f" % (mp / mf))
PY

# ---- 2. Start-up to the first byte on the line.
"$PY" - "$BUILD/orna-run" "$OUT" "$STARTUPS" <<'PY'
import os, pty, select, statistics, subprocess, sys, termios, time, tty
run, out, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
times = []
for i in range(n):
    master, slave = pty.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    plan = os.path.join(out, "startup.plan")
    open(plan, "w").write("open %s 38400 8N1\nsend *cls\n" % path)
    start = time.monotonic()
    p = subprocess.Popen([run, plan], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    r, _, _ = select.select([master], [], [], 10)
    first = time.monotonic()
    if r:
        os.read(master, 4096)
        os.write(master, b">")
    p.wait(10)
    os.close(master)
    os.close(slave)
    if r:
        times.append((first - start) * 1000)
print("startup_to_first_byte_ms_median=%.1f min=%.1f max=%.1f n=%d"
      % (statistics.median(times), min(times), max(times), len(times)))
PY

# ---- 3. Resident memory over many steps.
start_sim "$OUT/sim-memory.log" --turnaround 0 --unpaced
x328plan "$OUT/memory.plan" "$SIM_DEVICE" 38400 "$MEMORY_STEPS"
"$BUILD/orna-run" "$OUT/memory.plan" >"$OUT/memory-run.txt" &
pid=$!
: >"$OUT/rss.txt"
while kill -0 "$pid" 2>/dev/null; do
    awk -v t="$(date +%s.%N)" '/^VmRSS/ { print t, $2 }' "/proc/$pid/status" >>"$OUT/rss.txt" 2>/dev/null || true
    sleep 0.2
done
wait "$pid" || { echo "memory plan failed"; tail -5 "$OUT/memory-run.txt"; exit 1; }
stop_sim
"$PY" - "$OUT" "$MEMORY_STEPS" <<'PY'
import sys
out, steps = sys.argv[1], int(sys.argv[2])
rows = [tuple(map(float, l.split())) for l in open(out + "/rss.txt") if l.strip()]
t0, t1 = rows[0][0], rows[-1][0]
warm = [kib for t, kib in rows if t - t0 <= (t1 - t0) / 10]
after = [kib for t, kib in rows if t - t0 > (t1 - t0) / 10]
print("memory_steps=%d seconds=%.1f" % (steps, t1 - t0))
print("rss_end_of_warmup_kib=%d rss_max_after_kib=%d growth_kib=%d"
      % (warm[-1], max(after), max(after) - warm[-1]))
PY
