#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the name of an unprivileged account for tests that open devices as
# a user without rights (the serial open tests), creating the account when
# it is missing. Run as root; prints nothing otherwise. The name can be
# chosen with ORNA_TEST_USER.
#
#   export ORNA_TEST_USER="$(scripts/unprivileged-user.sh)"
#
# Run as root, tests/tst_serial_pty makes its own device nodes and opens them
# as that user. To run the whole test as the user instead, root prepares the
# node that only root may open and names it:
#
#   node=$(mktemp -d)/ttyRootOnly; mknod -m 600 "$node" c 1 3; chmod 755 "$(dirname "$node")"
#   runuser -u "$ORNA_TEST_USER" -- env ORNA_TEST_ROOT_ONLY_DEVICE="$node" build/tests/tst_serial_pty
set -euo pipefail
[ "$(id -u)" -eq 0 ] || exit 0
name="${ORNA_TEST_USER:-ornasertest-test}"
if ! id -u "$name" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$name"
fi
echo "$name"
