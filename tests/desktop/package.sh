#!/usr/bin/env bash
# Builds the Debian package from the build folder, unpacks it into a temporary root and runs
# the program from there. Usage: package.sh BUILD_FOLDER
set -euo pipefail
build=$(realpath "$1")
for tool in dpkg-shlibdeps appstreamcli desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (bash scripts/setup installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log") \
  || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/tessaly_*.deb)
dpkg-deb -x "$deb" "$work/root"
id=io.github.tessaly.Tessaly
desktop=usr/share/applications/$id.desktop metainfo=usr/share/metainfo/$id.metainfo.xml
for file in usr/bin/tessaly "$desktop" "$metainfo" usr/share/icons/hicolor/scalable/apps/tessaly.svg; do
  [ -f "$work/root/$file" ] || { echo "FAIL: the package lacks /$file"; exit 1; }
done
desktop-file-validate "$work/root/$desktop" || { echo "FAIL: the desktop entry is not valid"; exit 1; }
appstreamcli validate --no-net "$work/root/$metainfo" >"$work/appstream.log" \
  || { cat "$work/appstream.log"; echo "FAIL: the metainfo is not valid"; exit 1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$work/root/$metainfo" \
  || { echo "FAIL: the metainfo does not launch $id.desktop"; exit 1; }
# What software centres and `apt show` print: the summary, then the text as written.
description=$(dpkg-deb -f "$deb" Description)
expected="use your Android phone from this computer
 A tray application that mirrors and controls an Android phone's screen (with scrcpy),
 switches the phone between cable and wireless debugging, copies files both ways and
 receives Quick Share from nearby phones."
[ "$description" = "$expected" ] || { echo "FAIL: the Description reads:"; echo "$description"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for wanted in libqt6widgets6 libqt6svg6 libqcoro6core0 libssl3 libavahi-client3 adb; do
  [[ "$depends" == *"$wanted"* ]] || { echo "FAIL: Depends lacks $wanted: $depends"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Recommends)" = scrcpy ] || { echo "FAIL: scrcpy is not recommended"; exit 1; }
version=$("$work/root/usr/bin/tessaly" --version)
[[ "$version" =~ ^tessaly\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "FAIL: --version said: $version"; exit 1; }
grep -q "<release version=\"${version#tessaly }\"" "$work/root/$metainfo" \
  || { echo "FAIL: the metainfo's newest release is not ${version#tessaly }"; exit 1; }
# Started over SSH without a display: one line and status 1, not Qt's abort.
status=0
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/root/usr/bin/tessaly" 2>&1) || status=$?
[ "$status" = 1 ] && [ "$(echo "$message" | wc -l)" = 1 ] && [[ "$message" == *DISPLAY* ]] \
  || { echo "FAIL: without a display: status $status, said: $message"; exit 1; }
echo "PASS: $(basename "$deb") installs /usr/bin/tessaly ($version), depends on $depends"
