#!/usr/bin/env bash
# Runs the X11 editor tests on a private Xvfb; exit 77 (skipped) without one.
set -u
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed: skipped"; exit 77; }
command -v import >/dev/null || { echo "ImageMagick's import is not installed: skipped"; exit 77; }
command -v xdotool >/dev/null || { echo "xdotool is not installed: skipped"; exit 77; }
export QT_QPA_PLATFORM=xcb
# Mesa's GL driver is unloaded when the window's display closes, before the
# leak check at exit, and what its globals held is then reported with no
# library left to name it by: under the leak check the window draws without GL.
if [[ ${ASAN_OPTIONS:-} == *detect_leaks=1* ]]; then export QT_QUICK_BACKEND=software; fi
exec xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
