#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs clang-tidy with the checks of .clang-tidy on the C++ sources a change
# touched: those changed since BASE (default: the last 10 commits), or the
# files given after --. Uses the compile commands of the build directory
# (ORNA_BUILD_DIR, default build/), configured by scripts/setup.sh.
#
#   scripts/tidy.sh [BASE]          scripts/tidy.sh -- app/frmMain.cpp ...
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ORNA_BUILD_DIR:-$here/build}"
cd "$here"
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends clang-tidy-14 \
    || { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
         "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends clang-tidy-14; }
  tidy=$(command -v clang-tidy-14)
fi
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: run scripts/setup.sh first" >&2; exit 1; }
if [ "${1:-}" = "--" ]; then
  shift
  files=("$@")
else
  base="${1:-HEAD~10}"
  git rev-parse -q --verify "$base" >/dev/null || base=$(git rev-list --max-parents=0 HEAD | tail -n 1)
  mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' | grep -vE '^(bench|fuzz)/' || true)
fi
[ ${#files[@]} -gt 0 ] || { echo "tidy: no C++ source changed"; exit 0; }
echo "tidy: ${#files[@]} file(s)"
status=0
for f in "${files[@]}"; do
  "$tidy" -p "$build" --quiet "$f" 2>/dev/null || status=1
done
exit $status
