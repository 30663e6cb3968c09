# SPDX-License-Identifier: MIT
# Shared by bench/run.sh and bench/soak.sh: installs what is missing, builds
# the benchmark programs in their own Release tree, and starts orna-sim.
# Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build-bench}
PY=/usr/bin/python3 # Debian's, where python3-serial installs pyserial
export QT_QPA_PLATFORM=offscreen

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in cmake g++ gcc make qt6-base-dev qt6-serialport-dev python3 python3-serial; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "bench: installing ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

# build TARGETS...: orna-sim and the given targets, Release, in $BUILD.
build() {
    mkdir -p "$BUILD"
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DORNA_BENCH=ON >"$BUILD/bench-configure.log" 2>&1 ||
        { cat "$BUILD/bench-configure.log"; return 1; }
    cmake --build "$BUILD" -j"$(nproc)" --target orna-sim "$@" >"$BUILD/bench-build.log" 2>&1 ||
        { tail -40 "$BUILD/bench-build.log"; return 1; }
}

# start_sim LOGFILE ARGS...: starts orna-sim with its frame log in LOGFILE;
# sets SIM_PID and SIM_DEVICE (the path from its first line).
start_sim() {
    local log=$1
    shift
    : >"$log" # exists before the background start opens it
    "$BUILD/orna-sim" "$@" >"$log" 2>&1 </dev/null &
    SIM_PID=$!
    SIM_DEVICE=
    for _ in $(seq 100); do
        SIM_DEVICE=$(head -1 "$log" | sed -n 's/^orna-sim: serving on //p') || true
        [ -n "$SIM_DEVICE" ] && return 0
        sleep 0.05
    done
    echo "orna-sim did not start:" >&2
    cat "$log" >&2
    return 1
}

stop_sim() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=
    fi
}
