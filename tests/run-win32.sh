#!/usr/bin/env bash
# Cross-builds the Windows program and its MSI and runs the suites (labels unit and win32) under
# wine, on a private wine prefix inside the build folder and a private X display (:91). The
# installer's test works on a throw-away copy of that prefix.
#
#   tests/run-win32.sh [build-dir]
#
# QUILL_WIN32_SCREENSHOT=file.png also shows the window over an in-memory directory and saves a
# screenshot of the display.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build/windows}
case $build_dir in /*) ;; *) build_dir=$PWD/$build_dir ;; esac
display_number=91

cmake --preset windows -S "$source_dir" -B "$build_dir" >/dev/null
cmake --build "$build_dir"

# The program's users work in Japanese: wine takes the locale (ja-JP, LCID 0x411) from LANG, and
# glibc takes that locale's data from the build folder, where it is built.
export LOCPATH=$build_dir/locale LANG=ja_JP.UTF-8
[[ -d $LOCPATH/$LANG ]] || { mkdir -p "$LOCPATH" && localedef -i ja_JP -f UTF-8 "$LOCPATH/$LANG" 2>/dev/null; } ||
    [[ -d $LOCPATH/$LANG ]] || { echo "localedef could not build ja_JP.UTF-8 (package locales)" >&2; exit 1; }
unset LC_ALL LC_CTYPE LC_MESSAGES LANGUAGE

export WINEPREFIX=$build_dir/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installers: nothing here needs them, and there is no network.
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:$display_number
unset WAYLAND_DISPLAY

xvfb_pid=
cleanup() {
    local status=$?
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    # The installer's test removes its copy of the prefix itself, unless it was cut short.
    if [[ -d $WINEPREFIX-installer ]]; then
        WINEPREFIX=$WINEPREFIX-installer wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX-installer"
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit "$status"
}
trap cleanup EXIT INT TERM

if [[ -e /tmp/.X11-unix/X$display_number || -e /tmp/.X$display_number-lock ]]; then
    echo "display :$display_number is in use; stop whatever runs there first" >&2
    exit 1
fi
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >"$build_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X$display_number ]] && break
    sleep 0.1
done
[[ -e /tmp/.X11-unix/X$display_number ]] || { echo "Xvfb did not start" >&2; exit 1; }

mkdir -p "$WINEPREFIX"
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i >"$build_dir/wineboot.log" 2>&1
fi
# Windows managed by wine itself, so focus and activation behave as on Windows without a window manager.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'Noto Sans CJK JP' /f >/dev/null
# Let the prefix settle: everything wineboot started has ended and the registry is written.
wineserver -w
# Then keep one process alive for the run, so the server and wine's services stay up between the
# test processes instead of starting anew for each (seconds per test otherwise).
wine "$build_dir/tests/win32/quill_win32_pose.exe" --hold 3600 >/dev/null 2>&1 &
sleep 1

if [[ -n ${QUILL_WIN32_SCREENSHOT:-} ]]; then
    wine "$build_dir/tests/win32/quill_win32_pose.exe" 8 &
    pose_pid=$!
    sleep 5
    # The pose puts the window at the top left corner of the otherwise empty display.
    import -window root -crop 360x340+0+0 +repage "$QUILL_WIN32_SCREENSHOT"
    wait "$pose_pid" || true
fi

ctest --test-dir "$build_dir" -L 'unit|win32' --output-on-failure
