# Sourced: an Xvfb display of our own for the setup dialog's tests.
display_start() {
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      kill "$XVFB_PID" 2>/dev/null || true
    fi
  done
  echo "display: could not start Xvfb" >&2
  return 1
}
display_stop() {
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}

# Screenshot on a signal: once the program under test says its window is up
# (the file <dir>/dialog-shown), take the screen into <png> and answer with
# <dir>/dialog-shot. Runs in the background; SHOT_WATCHER is its pid.
shot_on_signal() {
  local dir="$1" png="$2"
  (
    for _ in $(seq 300); do
      if [ -e "$dir/dialog-shown" ]; then
        xwd -root -display "$DISPLAY" -silent | convert xwd:- -trim "$png" &&
          touch "$dir/dialog-shot"
        exit 0
      fi
      sleep 0.1
    done
  ) &
  SHOT_WATCHER=$!
}
