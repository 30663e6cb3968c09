#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the whole program and test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ (installing what is missing) and
# runs the suite headless. Any sanitizer report fails the test that made it.
# Arguments go to ctest (e.g. -R tst_x328).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ORNA_ASAN_BUILD_DIR:-$here/build-asan}"
ORNA_BUILD_DIR="$build" ORNA_CMAKE_ARGS="-DORNA_SANITIZE=ON" "$here/scripts/setup.sh"

# Qt is not instrumented; leaks are still checked, except for the one-time
# allocations listed in lsan.supp. UB reports stop the program (the build
# uses -fno-sanitize-recover).
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:halt_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
if [ "$(id -u)" -eq 0 ]; then
  ORNA_TEST_USER="$("$here/scripts/unprivileged-user.sh")"
  export ORNA_TEST_USER
fi
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"
