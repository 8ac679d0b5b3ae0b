#!/usr/bin/env bash
# Start-up cost of the tray application: time from process start until the tray icon is
# set up (without a tray host, the moment it reports that), and resident memory after
# start. Usage: bench/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
binary="$build/tessaly"
[ -x "$binary" ] || { echo "no $binary: build the tessaly target first" >&2; exit 1; }

adb_was_running=$(pgrep -x adb >/dev/null && echo yes || echo no)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

total_ms=0
for run in $(seq "$runs"); do
  rm -rf "$XDG_CONFIG_HOME"
  start=$(date +%s%N)
  "$binary" 2>"$scratch/stderr" &
  pid=$!
  until grep -q "system tray" "$scratch/stderr" 2>/dev/null; do
    kill -0 "$pid" 2>/dev/null || { echo "tessaly ended early:" >&2; cat "$scratch/stderr" >&2; exit 1; }
    sleep 0.002
  done
  ready=$(date +%s%N)
  sleep 1
  rss_kib=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || true
  ms=$(( (ready - start) / 1000000 ))
  total_ms=$(( total_ms + ms ))
  printf 'run %d: ready after %d ms, resident %.1f MiB\n' "$run" "$ms" "$(echo "$rss_kib / 1024" | bc -l)"
done
printf 'mean: %d ms\n' $(( total_ms / runs ))
# Tessaly starts adb's server; stop it again if this script was the reason it ran.
if [ "$adb_was_running" = no ] && command -v adb >/dev/null; then adb kill-server 2>/dev/null || true; fi
