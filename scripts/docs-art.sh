#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders docs/main-window.png, docs/port-dialog.png and the desktop icons
# from the current build, offscreen.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ORNA_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" --target docs-art -j"$(nproc)"
QT_QPA_PLATFORM=offscreen "$build/docs-art" "$here/docs" "$here/packaging/icons"
echo "written: docs/main-window.png docs/port-dialog.png packaging/icons/ornasertest-*.png"
