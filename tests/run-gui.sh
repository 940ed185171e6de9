#!/bin/bash
# Runs the gui suite (ctest label gui): the Qt window driven by typing and clicking, on Qt's
# offscreen platform, so no display or window manager is needed.
#   tests/run-gui.sh BUILD-DIR
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/run-gui.sh BUILD-DIR}")
[ -d "$build" ] || { echo "run-gui.sh: no build folder $build" >&2; exit 2; }

export QT_QPA_PLATFORM=offscreen
# Japanese texts pass through argv and the probe's output: keep the locale UTF-8.
export LC_ALL=C.UTF-8
# Qt wants a private runtime folder; make one and remove it on every exit.
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime

ctest --test-dir "$build" -L gui --output-on-failure
