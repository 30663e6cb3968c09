#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the program and orna-sim (nothing else:
# the tests, fuzz replays and benchmarks are built by the commands that run
# them), and starts the program.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ORNA_BUILD_TARGETS="${ORNA_BUILD_TARGETS:-ornasertest orna-sim}" "$here/scripts/setup.sh"
exec "${ORNA_BUILD_DIR:-$here/build}/ornasertest" "$@"
