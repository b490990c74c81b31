#!/usr/bin/env bash
# The screenshot helper of the dialog tests: while it runs, every
# <dir>/<what>.request that a test writes becomes <dir>/<what>.png, trimmed,
# and the request is deleted. The picture is <dir>/<what>.bmp when the test
# left one (the screen as Wine drew it), else the X screen taken with xwd.
#   shots.sh start <dir>   starts the helper in the background
#   shots.sh stop <dir>    stops it
# Screenshots are for people: a missing display or tool only means no PNG.
set -u
cmd="$1" dir="$2"
pidfile="$dir/.helper.pid"
case "$cmd" in
  start)
    mkdir -p "$dir"
    rm -f "$dir"/*.request "$dir"/*.bmp
    if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null; rm -f "$pidfile"; fi
    if [ -z "${DISPLAY:-}" ] || ! command -v xwd >/dev/null || ! command -v convert >/dev/null; then
      echo "shots: no display or no xwd/convert; no screenshots"
      exit 0
    fi
    # Detached from CTest's pipes; gives up on its own after an hour.
    setsid bash -c '
      dir="$1"; end=$((SECONDS + 3600))
      while [ $SECONDS -lt $end ]; do
        for r in "$dir"/*.request; do
          [ -e "$r" ] || continue
          stem="${r%.request}"
          if [ -f "$stem.bmp" ]; then
            convert "$stem.bmp" -trim "$stem.png" 2>/dev/null
            rm -f "$stem.bmp"
          else
            xwd -root -display "$DISPLAY" -silent | convert xwd:- -trim "$stem.png" 2>/dev/null
          fi
          rm -f "$r"
        done
        sleep 0.1
      done' shots "$dir" </dev/null >/dev/null 2>&1 &
    echo $! >"$pidfile"
    echo "shots: helper $! writes into $dir"
    ;;
  stop)
    if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null; rm -f "$pidfile"; fi
    rm -f "$dir"/*.request "$dir"/*.bmp
    ;;
esac
exit 0
