#!/usr/bin/env bash
# Runs rzt2tool on a private Xvfb display with its own D-Bus session and
# AT-SPI bus, and checks through AT-SPI, as a screen reader reads them, the
# names of its controls (atspi_names.py). Exits 77 (skipped) when Xvfb, the
# AT-SPI bus or pyatspi is missing.
#   atspi_names.sh RZT2TOOL
set -u
program=$1
here=$(dirname "$0")
skip() {
  echo "skipped: $*"
  exit 77
}
command -v Xvfb >/dev/null || skip "no Xvfb"
command -v dbus-run-session >/dev/null || skip "no dbus-run-session"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || skip "no at-spi-bus-launcher"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "no python3-pyatspi"

work=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
[ -s "$work/display" ] || skip "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"
# A settings store of its own; the program lists an empty folder.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"
mkdir -p "$work/config/Velmora" "$work/folder"
printf '[General]\nSrcFolder=%s\n' "$work/folder" >"$work/config/Velmora/rzt2tool.conf"

# The program and the checker see one bus; both go when the session ends.
export program launcher here
dbus-run-session -- bash -c '
  "$launcher" --launch-immediately >/dev/null 2>&1 &
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
  app=$!
  /usr/bin/python3 "$here/atspi_names.py"
  status=$?
  kill "$app" 2>/dev/null
  exit $status
' 2>/dev/null
