#!/usr/bin/env bash
# Runs a test in a network namespace of its own with only loopback up, so that
# tests serving on fixed ports (80, and 67-69 for the boot loader, on
# 127.0.0.x addresses) or probing loopback addresses run side by side
# (ctest -j) without meeting each other's servers. X servers too: Xvfb picks
# its display number by the socket it can bind, and the abstract socket is
# per network namespace, so every test's Xvfb takes :0; a client in another
# of the test's namespaces (Wine beside a veth link) goes through the socket
# file in /tmp/.X11-unix, which must then be the test's own: a mount
# namespace gives each test its own folder. CTest registers every test
# through this; by hand: tests/support/isolated.sh COMMAND [ARGUMENT...].
#
# A namespace needs root. Without one the tests take turns on the host's
# network, one at a time (a lock file), and ZUDIRUV_ISOLATED stays unset for
# the tests that cannot do without a namespace.
if [ -z "${ZUDIRUV_ISOLATED:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -n -m true 2> /dev/null; then
    # exec all the way down: CTest's timeout then ends the test itself.
    exec env ZUDIRUV_ISOLATED=1 unshare -n -m bash -c 'ip link set lo up &&
        mkdir -p -m 1777 /tmp/.X11-unix && mount -t tmpfs -o mode=1777 x11 /tmp/.X11-unix && exec "$@"' isolated "$@"
fi
[ -n "${ZUDIRUV_ISOLATED:-}" ] && exec "$@"
exec flock "${TMPDIR:-/tmp}/zudiruv-tests-host-network.lock" "$@"
