#!/bin/sh
# Runs a test program on a display of its own with openbox managing its
# windows, so that what only a window manager does (maximising, focus) can be
# checked without disturbing the other GUI tests, which share one display.
# Without xvfb-run or openbox the program runs as it is and its tests skip.
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v openbox >/dev/null 2>&1; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  openbox >/dev/null 2>&1 &
  manager=$!
  "$@"
  status=$?
  kill "$manager" 2>/dev/null
  exit "$status"' sh "$@"
