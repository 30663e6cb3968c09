#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from build/ (configuring and building it first if
# needed: scripts/setup.sh) and checks it with lintian, which must report no
# error. Installs dpkg-dev, file and lintian when missing. Prints the path of
# the package on its last line.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ORNA_EXTRA_PACKAGES="dpkg-dev file lintian ${ORNA_EXTRA_PACKAGES:-}" "$here/scripts/setup.sh"
build="${ORNA_BUILD_DIR:-$here/build}"
cd "$build"
rm -f ornasertest_*.deb
cpack -G DEB
deb="$(ls "$build"/ornasertest_*.deb)"
echo "lintian $(lintian --version | sed 's/^Lintian v//'):"
lintian --fail-on error --display-info "$deb"
echo "lintian: no errors"
echo "$deb"
