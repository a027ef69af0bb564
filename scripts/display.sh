# Sourced: an X server of the script's own, for programs that need a display.
# start_display exports DISPLAY; stop_display ends the server.
xvfb_pid=
start_display() {
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$display_file")"
  rm -f "$display_file"
}
stop_display() { [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true; }
