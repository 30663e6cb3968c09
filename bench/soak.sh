#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Soak: both loops at 100 ms through the real window and serial layer against
# orna-sim with faults, for a long time (not part of CI).
#
#   bench/soak.sh [minutes]               # 30 by default
#   bench/soak.sh [minutes] trickle       # the idle line, see below
#   bench/soak.sh [minutes] stream
#
# trickle and stream: the line open and idle (an SCPI exchange every
# SOAK_EXCHANGE_EVERY seconds, 60 by default: long idle spells between them)
# while the far end sends 100 bytes a second, or as fast as the line takes
# them (bench_idle); passes when the resident memory stays within 1 MiB of
# where it was after the warm-up.
#
# orna-sim runs with a 5 ms turn-around and the faults in SOAK_FAULTS (by
# default every fault that leaves the line up and suits the X3.28 loops, each
# at a rate of 10 %; the delay fault holds a reply back by 300 ms, so that
# ticks fall due while a wait runs and are skipped). Checks that the loop
# count equals the ticks served, that the port is still open, and that the
# resident memory grows by less than 1 MiB after the warm-up (a fifth of the
# run, at most 5 minutes). Prints the figures and a verdict; exits 0 on PASS.
set -euo pipefail
source "$(dirname "$0")/common.sh"

MINUTES=${1:-30}
CASE=${2:-loops}
FAULTS=${SOAK_FAULTS:---nak 0.1 --noise 0.1 --no-stx 0.1 --after-eot 0.1 --delay 0.1 --delay-ms 300}
SECONDS_TOTAL=$(awk -v m="$MINUTES" 'BEGIN { printf "%d", m * 60 }')
WARMUP=$(awk -v s="$SECONDS_TOTAL" 'BEGIN { w = s / 5; if (w > 300) w = 300; printf "%d", w }')

install_missing
if [ "$CASE" = trickle ] || [ "$CASE" = stream ]; then
    build bench_idle
    OUT=$BUILD/bench-results/soak-$CASE-$(date +%Y%m%d-%H%M%S)
    mkdir -p "$OUT"
    echo "soak: $MINUTES min of an idle line with a $CASE from the far end; warm-up $WARMUP s"
    EVERY=${SOAK_EXCHANGE_EVERY:-60}
    echo "soak: build-bench/bench/bench_idle $CASE $SECONDS_TOTAL --rss-every 10 --warmup $WARMUP --exchange-every $EVERY"
    "$BUILD/bench/bench_idle" "$CASE" "$SECONDS_TOTAL" --rss-every 10 --warmup "$WARMUP" --exchange-every "$EVERY" \
        >"$OUT/idle.txt" 2>"$OUT/stderr.txt" || true
    grep -v '^rss t=' "$OUT/idle.txt" || true
    get() { sed -n "s/^$1=//p" "$OUT/idle.txt"; }
    warm=$(get rss_warm_kib) end=$(get rss_end_kib) peak=$(get rss_max_after_warmup_kib)
    if [ -z "$warm" ] || [ -z "$end" ]; then
        echo "soak: FAIL: bench_idle ended without figures: $(tail -3 "$OUT/stderr.txt")"
        exit 1
    fi
    echo "soak: resident memory at the start $(get rss_start_kib) KiB, after warm-up $warm KiB, at the end $end KiB" \
        "(growth $((end - warm)) KiB), peak $peak KiB; the curve is in $OUT/idle.txt"
    if [ $((peak - warm)) -ge 1024 ] || [ "$(get port_open_at_end)" != 1 ]; then
        echo "soak: FAIL"
        exit 1
    fi
    echo "soak: PASS"
    exit 0
fi
build bench_loops
OUT=$BUILD/bench-results/soak-$(date +%Y%m%d-%H%M%S)
mkdir -p "$OUT"
trap stop_sim EXIT
# shellcheck disable=SC2086 # FAULTS is a list of options
SEED=${SOAK_SEED:-$RANDOM}
start_sim "$OUT/sim.log" --turnaround 5 --seed "$SEED" $FAULTS
echo "soak: $MINUTES min against $SIM_DEVICE; faults: $FAULTS, seed $SEED; warm-up $WARMUP s"
echo "soak: build-bench/bench/bench_loops DEVICE $SECONDS_TOTAL --rss-every 10 --warmup $WARMUP"
"$BUILD/bench/bench_loops" "$SIM_DEVICE" "$SECONDS_TOTAL" --rss-every 10 --warmup "$WARMUP" \
    >"$OUT/loops.txt" 2>"$OUT/stderr.txt" || true
stop_sim
cat "$OUT/loops.txt"

get() { sed -n "s/^$1=//p" "$OUT/loops.txt"; }
if [ -z "$(get ticks)" ]; then
    echo "soak: FAIL: bench_loops ended without figures: $(grep -v -e XDG_RUNTIME -e propagateSize "$OUT/stderr.txt" | tail -3)"
    exit 1
fi
verdict=PASS
why=()
if [ "$(get count_equals_served)" != 1 ]; then
    verdict=FAIL
    why+=("loop count $(get count) but $(get served) ticks served")
fi
if [ "$(get port_open_at_end)" != 1 ]; then
    verdict=FAIL
    why+=("the port was closed at the end")
fi
warm=$(get rss_warm_kib) end=$(get rss_end_kib) peak=$(get rss_max_after_warmup_kib)
if [ -z "$warm" ] || [ -z "$end" ]; then
    verdict=FAIL
    why+=("no memory figures (see $OUT/stderr.txt)")
else
    growth=$((end - warm))
    echo "soak: resident memory after warm-up ${warm} KiB, at the end ${end} KiB (growth ${growth} KiB), peak ${peak} KiB"
    if [ "$growth" -ge 1024 ]; then
        verdict=FAIL
    why+=("resident memory grew by ${growth} KiB after the warm-up")
    fi
fi
faults=$(grep -c '\[.*fault' "$OUT/sim.log" || true)
echo "soak: $(get served) ticks served, $(get skipped) skipped, $(get not_delivered) not delivered by the timer, $(get failures_reported) failures reported by the program, $faults faults struck in orna-sim"
echo "soak: raw figures and the simulator's frame log in $OUT"
if [ "$verdict" = PASS ]; then
    echo "soak: PASS"
else
    echo "soak: FAIL: ${why[*]}"
    exit 1
fi
