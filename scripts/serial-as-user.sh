#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The serial open tests (tests/tst_serial_pty) run as an unprivileged user,
# the way a user without rights meets them: root makes the account
# (scripts/unprivileged-user.sh) and a device node of each kind the user may
# not open, then runs the whole test as that user:
#   - owned by root:dialout, mode 0660 (the user is not in dialout): the
#     message says to join the group;
#   - owned by root:root, mode 0600: the message names owner, group and mode,
#     and gives no group advice;
# and the test itself, as the user, has another process hold its
# pseudo-terminal with an advisory lock (flock) and in exclusive mode
# (TIOCEXCL, which holds back everyone but root), each with its message.
# Fails unless those four rows pass. Without root it says so and exits 0.
#
#   scripts/serial-as-user.sh [BUILD_DIR]      (default build/)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${ORNA_BUILD_DIR:-$here/build}}"
if [ "$(id -u)" -ne 0 ]; then
  echo "serial-as-user: skipped: needs root (to make device nodes and run the test as another user)"
  exit 0
fi
test_bin="$build/tests/tst_serial_pty"
[ -x "$test_bin" ] || { echo "serial-as-user: $test_bin is not built" >&2; exit 1; }

user="$("$here/scripts/unprivileged-user.sh")"
getent group dialout >/dev/null || groupadd --system dialout
if id -nG "$user" | tr ' ' '\n' | grep -qx dialout; then
  echo "serial-as-user: $user is in the group dialout; the group row needs a user outside it" >&2
  exit 1
fi

# The nodes (of /dev/null's numbers: only the refusal matters) and the test
# program in a directory the user may enter; under /dev if the temporary
# directory's file system allows no device nodes.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
major=$((16#$(stat -c '%t' /dev/null)))
minor=$((16#$(stat -c '%T' /dev/null)))
make_node() { # PATH OWNER MODE
  mknod -m "$3" "$1" c "$major" "$minor"
  chown "$2" "$1"
  chmod "$3" "$1"
}
nodes="$work"
make_node "$nodes/probe" root:root 0666
if ! head -c 0 "$nodes/probe" 2>/dev/null; then
  nodes="$(mktemp -d /dev/ornasertest-XXXXXX)"
  trap 'rm -rf "$work" "$nodes"' EXIT
  chmod 755 "$nodes"
fi
rm -f "$work/probe"
make_node "$nodes/ttyRootOnly" root:root 0600
make_node "$nodes/ttyGroupRw" root:dialout 0660
cp "$test_bin" "$work/"

echo "serial-as-user: tst_serial_pty as $user; nodes $nodes/ttyRootOnly (root:root 0600), $nodes/ttyGroupRw (root:dialout 0660)"
mkdir -m 700 "$work/run"
chown "$user" "$work/run"
status=0
runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
  ORNA_TEST_ROOT_ONLY_DEVICE="$nodes/ttyRootOnly" ORNA_TEST_GROUP_DEVICE="$nodes/ttyGroupRw" \
  "$work/tst_serial_pty" -o "$work/run/result.txt,txt" -o -,txt >"$work/log.txt" 2>&1 || status=$?
grep -E '^(PASS|FAIL!|SKIP|XFAIL|XPASS|QINFO) |^   Loc|^Totals' "$work/log.txt" | grep -v '^PASS   : TestSerialPty::\(init\|cleanup\)' || true
for row in "held with flock by another program" \
           "held in exclusive mode (TIOCEXCL) by another program, opened as a user" \
           "owned by root, mode 0600, opened as a user" \
           "owned by a group with rw, opened as a user outside it"; do
  if ! grep -qF "PASS   : TestSerialPty::openFailures($row)" "$work/run/result.txt"; then
    echo "serial-as-user: the row \"$row\" did not pass as $user" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "serial-as-user: PASS"
exit "$status"
