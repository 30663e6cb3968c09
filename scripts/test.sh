#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds everything, and runs the whole test suite
# headless. Arguments go to ctest (e.g. -L unit for the fast tests only).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
# Run as root, the serial open tests also open a device node as an
# unprivileged user.
if [ "$(id -u)" -eq 0 ]; then
  ORNA_TEST_USER="$("$here/scripts/unprivileged-user.sh")"
  export ORNA_TEST_USER
fi
cd "${ORNA_BUILD_DIR:-$here/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
