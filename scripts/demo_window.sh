# The window part of scripts/demo.sh --window (sourced; uses its work,
# package, installer, volumes, bin and the pid variables its cleanup stops).
# On a desktop the user drives the window; without one, Xvfb and xdotool do.

shots="$repo/build/release/test-artifacts/window"

shoot() {
  mkdir -p "$shots"
  "$bin/ui/qlscreengrab" "$shots/demo-$1.png" && echo "  screenshot $shots/demo-$1.png"
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1; shift
  for _ in $(seq "$((seconds * 10))"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

package_complete() {
  local name
  for name in "$installer" "${volumes[@]}"; do
    cmp -s "$package/$name" "$work/save/$name" || return 1
  done
}

# The window's id, or the newest of its boxes with other=1.
window_id() {
  local ids
  ids=$(xdotool search --name "Varnholm下载器" 2>/dev/null) || return 1
  if [ "${1:-0}" = 1 ]; then
    echo "$ids" | grep -vx "$main_window" | tail -1
  else
    echo "$ids" | head -1
  fi
}

question_open() {
  [ -n "$(window_id 1)" ]
}

run_window() {
  local headless=0
  if [ -z "${DISPLAY:-}" ]; then
    headless=1
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    wait_for 20 test -s "$work/display" || { echo "demo: Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -1 "$work/display")"
    echo "  Xvfb on $DISPLAY"
  fi
  (
    cd "$work"
    PATH="$work/desktop:$PATH" \
    QUARROWLIGHT_DATA_HOME="$work/data" \
    QUARROWLIGHT_FAKE_SHUTDOWN=1 \
    QUARROWLIGHT_RENDEZVOUS=off QUARROWLIGHT_LAN=off QUARROWLIGHT_UPNP=off \
      exec ./quarrowlight --save-dir "$work/save"
  ) &
  window_pid=$!
  if [ "$headless" = 0 ]; then
    echo "  the window is open: press 开始下载, then 开始安装 when it is done"
    wait "$window_pid"
    return
  fi
  wait_for 20 window_id || { echo "demo: the window did not appear" >&2; return 1; }
  main_window=$(window_id)
  shoot ready
  # The main button sits at (318, 244)-(403, 276) of the window.
  xdotool mousemove --window "$main_window" 360 260 click 1
  sleep 1
  shoot downloading
  wait_for 600 package_complete || { echo "demo: the download did not complete" >&2; return 1; }
  sleep 2
  shoot finished
  xdotool mousemove --window "$main_window" 360 260 click 1
  # The window asks whether to check the files first: Yes.
  wait_for 20 question_open || { echo "demo: no question box" >&2; return 1; }
  local box
  box=$(window_id 1)
  shoot question
  xdotool windowfocus "$box" key Return
  local waited=0
  while kill -0 "$window_pid" 2>/dev/null && [ "$waited" -lt 600 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  wait "$window_pid"
}
