#!/usr/bin/env bash
# Runs the GUI tests that need a real X server and window manager: a
# private Xvfb display with openbox on it. Exits 77 (skipped) when either
# cannot be started.
#   real_display.sh GUI_TESTS_PROGRAM LSAN_SUPPRESSIONS
set -u
program=$1
suppressions=$2
# shellcheck source=tests/gui/private_display.sh
. "$(dirname "$0")/private_display.sh"
command -v Xvfb >/dev/null || skip "no Xvfb"
command -v openbox >/dev/null || skip "no openbox"

start_xvfb

# openbox runs its --startup command once it manages the screen.
openbox --sm-disable --startup "touch $work/managed" >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until [ -e "$work/managed" ] || skip "openbox did not start: $(cat "$work/openbox.log")"

# Qt on X talks to D-Bus, which keeps buffers until exit (see the file).
export LSAN_OPTIONS="suppressions=$suppressions${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export QT_QPA_PLATFORM=xcb
"$program" --gtest_filter='*OnARealDisplay*' || exit
# The viewer's first size and the settings dialog must fit the screen at
# any scale, and "As map" show the map's pixels at the pane's device size.
QT_SCALE_FACTOR=1.5 "$program" --gtest_filter='*OnARealDisplayTheViewer*:*OnARealDisplayTheSettings*:PreviewTest.AsMap*'
