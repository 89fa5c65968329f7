#!/usr/bin/env bash
# Runs rzt2tool on a private Xvfb display with its own D-Bus session and
# AT-SPI bus, and checks through AT-SPI, as a screen reader reads them, the
# names of its controls (atspi_names.py). Exits 77 (skipped) when Xvfb, the
# AT-SPI bus or pyatspi is missing.
#   atspi_names.sh RZT2TOOL
set -u
program=$1
here=$(dirname "$0")
# shellcheck source=tests/gui/private_display.sh
. "$here/private_display.sh"
command -v Xvfb >/dev/null || skip "no Xvfb"
command -v dbus-run-session >/dev/null || skip "no dbus-run-session"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || skip "no at-spi-bus-launcher"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "no python3-pyatspi"

start_xvfb
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
