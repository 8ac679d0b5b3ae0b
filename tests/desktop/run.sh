#!/usr/bin/env bash
# Tessaly on a real tray: Xvfb, a private D-Bus session and xfce4-panel as it comes (dark).
# Scenario "panel-first": the panel is up before Tessaly starts; a second start then exits at
# once with one line and brings the first one's "Tessaly" window up, the panel holds one icon,
# and the window's Ctrl+Q quits. Scenario "panel-late": no panel at first, as at a login where
# the autostart entry wins: the "Tessaly" window stands in for the tray and its Ctrl+F opens the
# files window; then the panel starts and the window goes when the icon comes. Both check that
# the icon shows within 10 s and stands out from the panel (a contrast figure), that a click
# opens the menu and "Getting Started…" the setup window, and that quitting ends the process
# within 1 s ("Quit Tessaly" from the menu in "panel-late"). Scenario "theme-icon" checks the
# icon only, on the panel "panel-first" leaves, with Qt following GNOME's icon theme: the panel
# then draws the theme's symbolic phone in its own colours.
# Scenario "notifications" (with TESTS_APP): share prompts of a Wayland session through dunst.
# Usage: run.sh TESSALY SCREENSHOT_FOLDER [TESTS_APP]
set -uo pipefail
tessaly=$(realpath "$1") shots=$2 tests_app=${3:-}
for tool in Xvfb xfce4-panel dbus-run-session dbus-send xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (bash scripts/setup installs it)"; exit 77; }
done
mkdir -p "$shots"
work=$(mktemp -d)
groups=() # every process here starts in a session of its own; cleanup ends each group by id
# An adb server that Tessaly's "start-server" leaves behind is ours to stop.
adb_was_running=$(awk '$2 ~ /:13AD$/ && $4 == "0A"' /proc/net/tcp /proc/net/tcp6 | wc -l)

start() { setsid "$@" & groups+=("$!"); }
stop_all() {
  for g in "${groups[@]}"; do kill -TERM -- "-$g" 2>/dev/null; done
  sleep 0.5
  for g in "${groups[@]}"; do kill -KILL -- "-$g" 2>/dev/null; done
  for g in "${groups[@]}"; do wait "$g" 2>/dev/null; done
  groups=()
}
cleanup() {
  stop_all
  [ "$adb_was_running" = 0 ] && [ -x /usr/bin/adb ] && /usr/bin/adb kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "FAIL: $*"; exit 1; }
now() { date +%s.%N; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.2f", a - b }'; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
alive() { [ -e "/proc/$1" ] && ! grep -q ') Z ' "/proc/$1/stat"; }
shot() { import -window root "$work/$1.png"; }
# Relative luminance contrast of the most distinct pixels of an area against its commonest colour:
# the 10th highest ratio, so that a stray pixel does not count.
contrast() {
  convert "$1" -crop "$2" -depth 8 txt:- | awk -F'[(),]' 'NR > 1 {
      for (i = 0; i < 3; i++) { c = $(3 + i) / 255; l[i] = c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4 }
      lum[NR] = 0.2126 * l[0] + 0.7152 * l[1] + 0.0722 * l[2]; count[lum[NR]]++ }
    END { for (v in count) if (count[v] > most) { most = count[v]; bg = v }
      for (i in lum) { hi = lum[i] > bg ? lum[i] : bg; lo = lum[i] > bg ? bg : lum[i]; print (hi + 0.05) / (lo + 0.05) } }' |
    sort -g | tail -n 10 | head -n 1 | xargs printf '%.1f'
}

for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
start Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp
export DISPLAY=":$n" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" NO_AT_BRIDGE=1
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY SESSION_MANAGER
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tessaly" && chmod 700 "$XDG_RUNTIME_DIR"
# Not a first launch (the guide would open by itself), and no adb commands at quit.
printf '[General]\nsettingsVersion=2\nautoDisableWirelessOnQuit=false\n' >"$XDG_CONFIG_HOME/Tessaly/Tessaly.conf"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

start_bus() {
  rm -f "$work/bus"
  start dbus-run-session -- bash -c 'echo "$DBUS_SESSION_BUS_ADDRESS" >"$0.new"; mv "$0.new" "$0"; exec sleep 600' "$work/bus" 2>>"$work/panel.log"
  for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
  export DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus")
}
tray_ready() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.ListNames 2>/dev/null | grep -q org.kde.StatusNotifierWatcher
}
start_panel() { start xfce4-panel --disable-wm-check >>"$work/panel.log" 2>&1; panel_pid=${groups[-1]}; }
# The status tray plugin's own window (it runs in a process of its own) once it holds an icon,
# as `area` (WxH+X+Y) and `icon_x`, `icon_y`: where to look and where to click.
tray_area() {
  local pid w X Y WIDTH HEIGHT
  for pid in $(ps -o pid= --ppid "$panel_pid"); do
    grep -q libsystray.so "/proc/$pid/cmdline" 2>/dev/null || continue
    for w in $(xdotool search --pid "$pid" 2>/dev/null); do
      eval "$(xdotool getwindowgeometry --shell "$w" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
      [ "$Y" -ge 0 ] && [ "$WIDTH" -ge 16 ] && [ "$HEIGHT" -ge 16 ] || continue
      icon_x=$((X + WIDTH / 2)) icon_y=$((Y + HEIGHT / 2))
      area="${WIDTH}x${HEIGHT}+$X+$Y"
      return 0
    done
  done
  return 1
}
# Opens the menu with a click on the icon, takes a picture and presses KEYS (the panel's menu
# and Qt's both take them).
menu_keys() {
  xdotool mousemove "$icon_x" "$icon_y" click 1
  sleep 1.5
  shot menu
  xdotool key --delay 150 "$@"
}
tessaly_window() { xdotool search --onlyvisible --name '^Tessaly$' 2>/dev/null | head -n 1; }
# Waits up to SECONDS for Tessaly's window; its id in `window`.
wait_window() {
  for _ in $(seq $(($1 * 5))); do window=$(tessaly_window); [ -n "$window" ] && return 0; sleep 0.2; done
  return 1
}
# KEYS pressed in the Tessaly window (without a window manager the focus is given by hand).
window_keys() { xdotool windowfocus --sync "$window" key --delay 100 "$@"; }
expect_quit() { # NAME COMMAND...: Tessaly ends within 1 s of the COMMAND that quits it
  local began quit
  began=$(now)
  "${@:2}"
  for _ in $(seq 30); do alive "$tessaly_pid" || break; sleep 0.05; done
  alive "$tessaly_pid" && fail "$1: Tessaly still runs 1.5 s after \"Quit Tessaly\""
  quit=$(since "$began")
  at_least 1.0 "$quit" || fail "$1: quitting took ${quit} s"
  echo "PASS: $1: quitting ended the process in ${quit} s"
}
icons_on_bus() {
  dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
    string:RegisteredStatusNotifierItems 2>/dev/null | grep -c 'string "'
}
second_start() {
  "$tessaly" --version >/dev/null || fail "--version failed beside a running Tessaly"
  local status=0
  timeout 10 "$tessaly" 2>"$work/second.err" || status=$?
  [ "$status" = 0 ] && [ "$(wc -l <"$work/second.err")" = 1 ] \
    || fail "second start: status $status, said: $(cat "$work/second.err")"
  alive "$tessaly_pid" || fail "the second start ended the first Tessaly"
  wait_window 5 || fail "the second start brought up no Tessaly window"
  [ "$(icons_on_bus)" = 1 ] || fail "$(icons_on_bus) icons in the panel after two starts"
  echo "PASS: a second start exits at once saying \"$(cat "$work/second.err")\"; one icon, the window is up"
}

stop_all_but_x() { local x=${groups[0]}; groups=("${groups[@]:1}"); stop_all; groups=("$x"); }

scenario() { # NAME [VARIABLE=VALUE...] (for Tessaly)
  local name=$1 began shown=""
  shift
  # "theme-icon" follows "panel-first" on its bus and panel.
  if [ "$name" = panel-first ] || [ "$name" = panel-late ]; then start_bus; fi
  if [ "$name" = panel-first ]; then
    start_panel
    for _ in $(seq 100); do tray_ready && break; sleep 0.1; done
  fi
  began=$(now)
  start env "$@" "$tessaly" 2>"$work/$name.err"
  tessaly_pid=${groups[-1]}
  if [ "$name" = panel-late ]; then
    wait_window 10 || fail "$name: no Tessaly window within 10 s without a tray"
    echo "PASS: $name: the Tessaly window stood in for the missing tray after $(since "$began") s"
    import -window "$window" "$shots/desktop-no-tray-window.png"
    window_keys ctrl+f
    for _ in $(seq 25); do xdotool search --onlyvisible --name '^Phone Files' >/dev/null && break; sleep 0.2; done
    xdotool search --onlyvisible --name '^Phone Files' >/dev/null || fail "$name: Ctrl+F in the window opened no files window"
    echo "PASS: $name: the window's Ctrl+F opened the files window"
    began=$(now)
    start_panel
  fi
  for _ in $(seq 20); do
    sleep 0.5
    tray_area || continue
    shot icon
    c=$(contrast "$work/icon.png" "$area")
    if at_least "$c" 3; then shown=$(since "$began"); break; fi
  done
  [ -n "$shown" ] && at_least 10 "$shown" || fail "$name: no icon that stands out in the panel within 10 s (contrast ${c:-none})"
  convert "$work/icon.png" -crop 400x26+880+0 -scale 300% "$shots/desktop-$name-icon.png"
  echo "PASS: $name: icon in the panel after ${shown} s, contrast against the panel ${c}:1"
  if [ "$name" = panel-late ]; then
    for _ in $(seq 20); do [ -z "$(tessaly_window)" ] && break; sleep 0.25; done
    [ -z "$(tessaly_window)" ] || fail "$name: the Tessaly window stayed after the icon came"
    echo "PASS: $name: the window went when the icon came"
  fi
  [ "$name" = theme-icon ] && { stop_all_but_x; return; }

  # A panel that has just started still lays out its plugins: click where the icon has settled.
  local before=""
  for _ in $(seq 20); do tray_area && [ "$area" = "$before" ] && break; before=${area:-}; sleep 0.25; done
  menu_keys Up Up Up Return
  cp "$work/menu.png" "$shots/desktop-$name-menu.png"
  at_least "$(compare -metric AE -fuzz 8% "$work/icon.png" "$work/menu.png" null: 2>&1)" 20000 \
    || fail "$name: a click on the icon opened no menu"
  at_least 20 "$(compare -metric AE -fuzz 8% "$work/icon.png[$area]" "$work/menu.png[$area]" null: 2>&1)" \
    || fail "$name: the menu opened over the icon rather than beside the panel"
  for _ in $(seq 30); do xdotool search --name 'Getting Started' >/dev/null && break; sleep 0.2; done
  xdotool search --name 'Getting Started' >/dev/null || fail "$name: \"Getting Started…\" opened no window"
  echo "PASS: $name: the click opened the menu and \"Getting Started…\" the setup window"

  if [ "$name" = panel-first ]; then
    second_start
    expect_quit "$name" window_keys ctrl+q
  else
    menu_keys Up
    expect_quit "$name" xdotool key Return
  fi
  [ "$name" = panel-first ] || stop_all_but_x
}

# --- Share prompts through a real notification daemon ---
# The session type alone picks notifications: no compositor needed. The share path runs in the
# app tests' binary with a phone over loopback, and answers through dunst's context menu, whose
# dmenu (the script below) logs the menu, pictures the screen and picks the chosen label's line.
notifications() {
  command -v dunst >/dev/null || { echo "SKIP: notifications: dunst is missing (bash scripts/setup installs it)"; return; }
  cat >"$work/pick" <<EOF
#!/bin/sh
menu=\$(cat)
label=\$(cat "$work/choice")
printf '%s\n' "\$menu" >>"$work/menu.log"
line=\$(printf '%s\n' "\$menu" | grep -F "#\$label (" | head -n 1)
[ -n "\$line" ] && [ ! -e "$work/notify-\$label.png" ] && import -window root "$work/notify-\$label.png"
printf '%s\n' "\$line"
EOF
  chmod +x "$work/pick"
  printf '[global]\n    dmenu = %s\n    browser = /bin/true\n' "$work/pick" >"$work/dunstrc"
  start_bus
  start dunst -config "$work/dunstrc" >>"$work/dunst.log" 2>&1
  for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.ListNames 2>/dev/null | grep -q '"org.freedesktop.Notifications"' && break
    sleep 0.1
  done
  XDG_SESSION_TYPE=wayland TESSALY_NOTIFICATION_CHOICE="$work/choice" timeout 60 "$tests_app" \
    --gtest_filter=QuickShareEndToEnd.OnWaylandTheDesktopsNotificationsAsk >"$work/notify.log" 2>&1
  grep -q '^\[  PASSED  \] 1 test' "$work/notify.log" || { cat "$work/notify.log"; fail "notifications: the share path through dunst"; }
  grep -qF '#Accept (“Pixel 8” wants to send you a file)' "$work/menu.log" \
    || fail "notifications: dunst never showed the question"
  convert "$work/notify-Accept.png" -crop 500x160+780+0 "$shots/desktop-notification-asking.png"
  convert "$work/notify-Show in Folder.png" -crop 500x160+780+0 "$shots/desktop-notification-saved.png"
  echo "PASS: notifications: dunst asked, Accept answered the phone, and Show in Folder the outcome"
  stop_all_but_x
}

[ -n "$tests_app" ] && notifications
scenario panel-first
scenario theme-icon XDG_CURRENT_DESKTOP=GNOME
scenario panel-late
grep -q "no system tray yet" "$work/panel-late.err" || fail "panel-late: no word on standard error about the missing tray"
echo "PASS: desktop"
