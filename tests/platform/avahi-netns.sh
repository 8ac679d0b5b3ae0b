#!/usr/bin/env bash
# Runs the live browser and advertiser tests against a private avahi-daemon: a network namespace of
# its own (two veth ends with 192.0.2.x documentation addresses, nothing reaches a real network),
# its own system bus and its own /run/avahi-daemon. Needs root; exits 77 (skipped) where unshare is refused.
#
#   avahi-netns.sh TEST_BINARY
set -euo pipefail
binary=$1

if [[ ${2:-} != --inside ]]; then
    if ! unshare -n -m true 2>/dev/null; then
        echo "SKIP: cannot create network and mount namespaces here (needs root)"
        exit 77
    fi
    exec unshare -n -m bash "$0" "$binary" --inside
fi

PATH=$PATH:/usr/sbin:/sbin
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait || true
    rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
ip link add v0 type veth peer name v1
ip addr add 192.0.2.1/24 dev v0
ip addr add 192.0.2.2/24 dev v1
ip link set v0 up
ip link set v1 up
# The daemon keeps its pid file and socket here; a machine's own daemon must not see them.
mkdir -p /run/avahi-daemon
mount -t tmpfs tmpfs /run/avahi-daemon
# A daemon started before the links are up joins none of them.
for _ in $(seq 100); do
    [[ $(ip -o link show up | grep -c 'v[01]@.*LOWER_UP') == 2 ]] && break
    sleep 0.05
done

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
printf '[server]\nuse-ipv4=yes\nuse-ipv6=no\n' >"$work/avahi.conf"

dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -S $work/bus ]] && break; sleep 0.1; done
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus

avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$work/avahi.log" 2>&1 &
pids+=($!)
export TESSALY_AVAHI_DAEMON_PID=$!
for _ in $(seq 100); do grep -qs "Server startup complete" "$work/avahi.log" && break; sleep 0.1; done
grep -q "Server startup complete" "$work/avahi.log" || { cat "$work/avahi.log"; echo "FAIL: avahi-daemon did not start"; exit 1; }

status=0
"$binary" --gtest_filter="AvahiBrowser_Live.*:AvahiAdvertiser_Live.*" </dev/null || status=$?
if [[ $status -eq 0 ]]; then echo "avahi netns test: PASS"; else echo "avahi netns test: FAIL ($status)"; fi
exit $status
