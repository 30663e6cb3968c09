#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build needs (only those missing), then
# configures and builds into build/. Run by start.sh and test.sh, and with
# ORNA_BUILD_DIR, ORNA_CMAKE_ARGS, ORNA_EXTRA_PACKAGES and ORNA_BUILD_TARGETS
# by test-sanitized.sh and fuzz/run.sh.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
packages=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core ${ORNA_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
build="${ORNA_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="${ORNA_BUILD_TYPE:-RelWithDebInfo}" ${ORNA_CMAKE_ARGS:-}
# ORNA_BUILD_TARGETS: build only these targets (default: everything).
targets=()
for t in ${ORNA_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
