#!/usr/bin/env bash
# Runs the X11 editor tests on a private Xvfb; exit 77 (skipped) without one.
set -u
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed: skipped"; exit 77; }
command -v import >/dev/null || { echo "ImageMagick's import is not installed: skipped"; exit 77; }
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
