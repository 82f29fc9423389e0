#!/usr/bin/env bash
# Runs a command inside a private network namespace that holds only loopback,
# so a test that aims at anything but 127.0.0.0/8 fails loudly instead of
# sending a packet anywhere. Multicast is routed to loopback for the UDP
# group tests.
set -euo pipefail

if [ "${TOLVANE_IN_NETNS:-}" = "1" ]; then
  ip link set lo up
  ip link set lo multicast on || true
  ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
  exec "$@"
fi

export TOLVANE_IN_NETNS=1
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
if unshare -rn true 2>/dev/null; then
  exec unshare -rn "$self" "$@"
elif [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n "$self" "$@"
fi

echo "WARNING: no private network namespace could be made; running on the host network." >&2
echo "WARNING: every test still aims at loopback only." >&2
unset TOLVANE_IN_NETNS
exec "$@"
