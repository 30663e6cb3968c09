#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every benchmark side by side in one run and writes the results table
# to docs/performance.md. Never run by ctest.
#
#   bench/run.sh            # the full run (about 6 minutes)
#   bench/run.sh --quick    # fewer repetitions, for trying the script out
#
# Installs what is missing (Debian), builds in build-bench (Release), and
# keeps the raw figures in build-bench/bench-results/<time>/.
set -euo pipefail
source "$(dirname "$0")/common.sh"

EXCHANGES=1000    # of each kind, per contender and far end
ROUNDS=5          # the contenders take turns, this many times
LOOP_SECONDS=60
STARTUPS=11
MEMORY_EXCHANGES=40000
WAIT_ITERATIONS=1000
FLOOD_SECONDS=20
PLAN_POLLS=10000
PLAN_MEMORY_STEPS=100000
RECORD_ROUNDS=5
if [ "${1:-}" = --quick ]; then
    EXCHANGES=100 ROUNDS=2 LOOP_SECONDS=10 STARTUPS=3 MEMORY_EXCHANGES=4000 WAIT_ITERATIONS=100
    FLOOD_SECONDS=5 PLAN_POLLS=500 PLAN_MEMORY_STEPS=5000 RECORD_ROUNDS=2
fi
COMMAND="bench/run.sh${1:+ $1}"

install_missing
build bench_wait bench_exchange bench_loops bench_startup bench_pacing bench_flood floor_exchange orna-run
B=$BUILD/bench
OUT=$BUILD/bench-results/$(date +%Y%m%d-%H%M%S)
mkdir -p "$OUT"
trap stop_sim EXIT
CMDS=$OUT/commands.txt
: >"$CMDS"
# Commands as the report shows them: OUT for this run's folder, DEVICE for
# the path orna-sim printed.
note() {
    echo "$*" | sed "s|$OUT|OUT|g; s|$BUILD|build-bench|g; s|$ROOT/||g${SIM_DEVICE:+; s|$SIM_DEVICE|DEVICE|g}" >>"$CMDS"
}

{
    # "-dirty" when the measured tree holds changes not yet committed.
    echo "commit=$(git -C "$ROOT" describe --always --dirty --abbrev=7 2>/dev/null || echo unknown)"
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
    echo "cores=$(nproc)"
    echo "kernel=$(uname -r)"
    echo "qt=$(dpkg-query -W -f '${Version}' qt6-base-dev 2>/dev/null)"
    echo "pyserial=$(dpkg-query -W -f '${Version}' python3-serial 2>/dev/null)"
    echo "load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)"
    echo "command=$COMMAND"
} >"$OUT/machine.txt"

# ---- 1. Exchange time, 38400 baud 8N1, zero turn-around.
# Two far ends: orna-sim without line-rate pacing (--unpaced: each reply
# leaves whole, at once), and orna-sim pacing its replies at 38400 baud.
per_round=$((EXCHANGES / ROUNDS))
contenders=(floor pyserial window hidden bare)
run_contender() { # contender kind outfile
    local dev=$SIM_DEVICE
    case $1 in
    floor) set -- "$B/floor_exchange" "$dev" "$2" "$per_round" "$3" ;;
    pyserial) set -- "$PY" "$ROOT/bench/pyserial_exchange.py" "$dev" "$2" "$per_round" "$3" ;;
    window) set -- "$B/bench_exchange" "$dev" "$2" "$per_round" "$3" ;;
    hidden) set -- "$B/bench_exchange" --hidden "$dev" "$2" "$per_round" "$3" ;;
    bare) set -- "$B/bench_exchange" --bare "$dev" "$2" "$per_round" "$3" ;;
    esac
    [ "$round" = 1 ] && note "  $*"
    "$@" 2>>"$OUT/stderr.txt" >/dev/null || echo "exit status $? from: $*" >>"$OUT/stderr.txt"
}
for farend in unpaced paced; do
    if [ $farend = unpaced ]; then
        simargs=(--turnaround 0 --unpaced)
    else
        simargs=(--turnaround 0 --baud 38400)
    fi
    echo "bench: exchange time, far end $farend"
    start_sim "$OUT/sim-$farend.log" "${simargs[@]}"
    note "build-bench/orna-sim ${simargs[*]}   # far end '$farend'; then, $ROUNDS rounds in turn:"
    for round in $(seq "$ROUNDS"); do
        # Each round starts with the next contender, so none always goes first.
        for i in "${!contenders[@]}"; do
            c=${contenders[$(((i + round) % ${#contenders[@]}))]}
            for kind in scpi x328; do
                run_contender "$c" "$kind" "$OUT/exchange-$farend-$c-$kind.txt"
            done
        done
    done
    stop_sim
done

# ---- 2. Processor use while waiting, and the reply latency.
echo "bench: reply wait"
note "build-bench/bench/bench_wait $WAIT_ITERATIONS"
"$B/bench_wait" "$WAIT_ITERATIONS" >"$OUT/wait.txt" 2>>"$OUT/stderr.txt" || echo "exit status $? from bench_wait" >>"$OUT/stderr.txt"

# What a poll's sleep costs here, apart from the program: pacing variants.
echo "bench: pacing study"
study=("sleep 1000 100" "events 1000 100" "poll 1000 100" "poll 1000 100 QT_NO_GLIB=1" "poll 0 100"
    "poll 0 50" "deadline 1000 150" "poll 1000 250")
for i in "${!study[@]}"; do
    read -r mode slack micros envset <<<"${study[$i]}"
    note "${envset:+$envset }build-bench/bench/bench_pacing $mode $slack $micros"
    { [ -n "${envset:-}" ] && echo "env=$envset"
      env ${envset:-} "$B/bench_pacing" "$mode" "$slack" "$micros"; } >"$OUT/pacing-$i.txt" 2>>"$OUT/stderr.txt" ||
        echo "exit status $? from bench_pacing ${study[$i]}" >>"$OUT/stderr.txt"
done

# ---- 3. Loop timing: both loops at 100 ms, 5 ms turn-around.
echo "bench: loops for $LOOP_SECONDS s"
start_sim "$OUT/sim-loops.log" --turnaround 5
note "build-bench/orna-sim --turnaround 5"
note "build-bench/bench/bench_loops DEVICE $LOOP_SECONDS"
"$B/bench_loops" "$SIM_DEVICE" "$LOOP_SECONDS" >"$OUT/loops.txt" 2>>"$OUT/stderr.txt" || echo "exit status $? from bench_loops" >>"$OUT/stderr.txt"
stop_sim

# ---- 4. Start-up and memory.
echo "bench: start-up and memory"
note "build-bench/bench/bench_startup   # $STARTUPS times"
for i in $(seq "$STARTUPS"); do
    "$B/bench_startup" >"$OUT/startup-$i.txt" 2>>"$OUT/stderr.txt"
done
start_sim "$OUT/sim-memory.log" --turnaround 0 --unpaced
note "build-bench/orna-sim --turnaround 0 --unpaced"
note "build-bench/bench/bench_exchange --memory DEVICE $MEMORY_EXCHANGES"
"$B/bench_exchange" --memory "$SIM_DEVICE" "$MEMORY_EXCHANGES" >"$OUT/memory.txt" 2>>"$OUT/stderr.txt" || echo "exit status $? from bench_exchange --memory" >>"$OUT/stderr.txt"
stop_sim

# ---- 5. The bench record and plans.
echo "bench: loops under a flood, monitor hidden and shown"
for shown in hidden shown; do
    args=()
    [ $shown = shown ] && args=(--monitor)
    note "build-bench/bench/bench_flood $FLOOD_SECONDS ${args[*]}"
    "$B/bench_flood" "$FLOOD_SECONDS" "${args[@]}" >"$OUT/flood-$shown.txt" 2>>"$OUT/stderr.txt" ||
        echo "exit status $? from bench_flood $shown" >>"$OUT/stderr.txt"
done
echo "bench: what the monitor and the continuous log cost"
note "bench/record-compare.sh build-bench $RECORD_ROUNDS 200 10"
"$ROOT/bench/record-compare.sh" "$BUILD" "$RECORD_ROUNDS" 200 10 >"$OUT/record.txt" 2>>"$OUT/stderr.txt" ||
    echo "exit status $? from record-compare.sh" >>"$OUT/stderr.txt"
echo "bench: plans"
note "bench/plan-bench.sh $PLAN_POLLS $PLAN_MEMORY_STEPS $STARTUPS"
"$ROOT/bench/plan-bench.sh" "$PLAN_POLLS" "$PLAN_MEMORY_STEPS" "$STARTUPS" >"$OUT/plans.txt" 2>>"$OUT/stderr.txt" ||
    echo "exit status $? from plan-bench.sh" >>"$OUT/stderr.txt"

echo "load_at_end=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$OUT/machine.txt"
"$PY" "$ROOT/bench/make_report.py" "$OUT" >"$ROOT/docs/performance.md"
echo "bench: results in $OUT; table written to docs/performance.md"
