#!/usr/bin/env bash
# The harness's status lines, exactly: "starting" bare, "on" with name and port, "failed" with the
# reason (a second harness on the first one's port). Loopback only.
#
#   status-lines.sh HARNESS
set -euo pipefail
harness=$1
dir=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait; rm -rf "$dir"' EXIT

waitFor() { for _ in $(seq 100); do grep -q "$2" "$1" && return; sleep 0.05; done; }
"$harness" --port 0 --save "$dir" >"$dir/first" &
pids+=($!)
waitFor "$dir/first" '"status":"on"'
port=$(grep -o '"port":[0-9]*' "$dir/first" | cut -d: -f2)
"$harness" --port "$port" --save "$dir" >"$dir/second" &
pids+=($!)
waitFor "$dir/second" '"status":"failed"'

diff - "$dir/first" <<LINES
{"event":"status","status":"starting"}
{"event":"status","name":"Quick Share harness","port":$port,"status":"on"}
LINES
diff - "$dir/second" <<LINES
{"event":"status","status":"starting"}
{"event":"status","reason":"the system didn’t allow listening on the network","status":"failed"}
LINES
