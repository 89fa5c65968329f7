# shellcheck shell=bash
# Sourced by the scripts that run programs on a private Xvfb display:
# skip (exit 77), a work folder and the processes in pids ended at exit,
# and start_xvfb, which exports DISPLAY.
skip() {
  echo "skipped: $*"
  exit 77
}
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Runs the test given until it holds, for at most five seconds.
wait_until() {
  for _ in $(seq 100); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

# Xvfb picks a free display and writes its number when it takes connections.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  wait_until [ -s "$work/display" ] || skip "Xvfb did not start: $(cat "$work/xvfb.log")"
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
}
