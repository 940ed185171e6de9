#!/bin/bash
# Runs the package suite: builds the Debian package the Debian way, checks it with lintian,
# installs it on this machine with apt, checks that every shipped file is in place with the
# right owner and mode, and starts the installed program as an unprivileged user on a virtual
# display, closes its window as a window manager does and expects exit status 0. Then the
# end-to-end polkit check (tests/run-polkit.sh) runs against the installed helper.
# Usage: tests/run-package.sh BUILD-DIR   (as root: apt, namespaces; BUILD-DIR is the asan build)
set -uo pipefail
cd "$(dirname "$0")/.."

build=$(readlink -f "${1:?usage: tests/run-package.sh BUILD-DIR}")
[ "$(id -u)" = 0 ] || { echo "run-package.sh: needs root (apt, namespaces)" >&2; exit 2; }

failures=0
ok() { echo "ok   $*"; }
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
expect() { # description, command...
    local what=$1
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}

deb=$(scripts/build-deb.sh build/package | tail -n 1) || { echo "run-package.sh: the package build failed" >&2; exit 1; }
changes=${deb%.deb}.changes
echo "=== lintian"
expect "lintian reports no error and no warning" lintian --fail-on error,warning "$changes"

echo "=== install"
# apt keeps an installed package of the same version, so a rebuilt one is reinstalled.
export DEBIAN_FRONTEND=noninteractive
install=(apt-get install -y -q --no-install-recommends --reinstall "$deb")
[ -w /tmp ] && install=(flock /tmp/apt.lock "${install[@]}")
"${install[@]}" >/tmp/quill-package-install.log 2>&1 ||
    { cat /tmp/quill-package-install.log; echo "run-package.sh: apt could not install $deb" >&2; exit 1; }
expect "dpkg knows version $(dpkg-deb -f "$deb" Version) as installed" \
    test "$(dpkg-query -W -f='${Status} ${Version}' quillmarsh)" = "install ok installed $(dpkg-deb -f "$deb" Version)"

echo "=== files"
# path owner:group mode
while read -r path want; do
    if [ ! -e "$path" ]; then
        fail "$path is missing"
        continue
    fi
    have=$(stat -c '%U:%G %a' "$path")
    [ "$have" = "$want" ] && ok "$path $have" || fail "$path is $have, expected $want"
done <<'LIST'
/usr/bin/quillmarsh root:root 755
/usr/libexec/quillmarsh root:root 755
/usr/libexec/quillmarsh/quillmarsh-local-accounts root:root 755
/usr/share/polkit-1/actions/org.quillmarsh.local-accounts.manage.policy root:root 644
/usr/share/applications/quillmarsh.desktop root:root 644
/usr/share/icons/hicolor/16x16/apps/quillmarsh.png root:root 644
/usr/share/icons/hicolor/32x32/apps/quillmarsh.png root:root 644
/usr/share/icons/hicolor/64x64/apps/quillmarsh.png root:root 644
/usr/share/metainfo/org.quillmarsh.Quillmarsh.metainfo.xml root:root 644
/usr/share/man/man1/quillmarsh.1.gz root:root 644
/usr/share/man/ja/man1/quillmarsh.1.gz root:root 644
/usr/share/doc/quillmarsh/copyright root:root 644
LIST
odd=$(dpkg -L quillmarsh | while read -r f; do
    [ -e "$f" ] && stat -c '%U:%G %A %n' "$f"
done | grep -Ev '^root:root [-d]rw[-x]r-[-x]r-[-x] ')
[ -z "$odd" ] && ok "every shipped file is root's, none setuid, setgid or writable by others" ||
    fail "files with other owners or modes: $odd"
policy=/usr/share/polkit-1/actions/org.quillmarsh.local-accounts.manage.policy
expect "the polkit action runs the installed helper" \
    grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/libexec/quillmarsh/quillmarsh-local-accounts</annotate>' "$policy"
expect "the metainfo validates" appstreamcli validate --no-net /usr/share/metainfo/org.quillmarsh.Quillmarsh.metainfo.xml
expect "the desktop entry validates" desktop-file-validate /usr/share/applications/quillmarsh.desktop
expect "the desktop entry starts the installed program" grep -qx 'Exec=quillmarsh.*' /usr/share/applications/quillmarsh.desktop
for page in /usr/share/man/man1/quillmarsh.1.gz /usr/share/man/ja/man1/quillmarsh.1.gz; do
    expect "$page renders" sh -c "LC_ALL=C.UTF-8 MANWIDTH=80 man -l '$page' 2>/dev/null | grep -q quillmarsh"
done

echo "=== the installed program, started as an unprivileged user"
work=$(mktemp -d /tmp/quill-package.XXXXXX)
chmod 755 "$work"
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
    fail "Xvfb did not start: $(cat "$work/xvfb.log")"
else
    display=:$(cat "$work/display")
    install -d -m 700 -o nobody "$work/runtime"
    # The user starts it from the menu or the shell: nothing of root's goes with it.
    env -i PATH=/usr/bin:/bin HOME=/nonexistent LANG=C.UTF-8 DISPLAY="$display" QT_QPA_PLATFORM=xcb \
        XDG_RUNTIME_DIR="$work/runtime" \
        setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/quillmarsh >"$work/program.log" 2>&1 &
    program=$!
    DISPLAY=$display /usr/bin/python3 tests/package/close_window.py "$program" "Quillmarsh 1.0.0" ||
        fail "the window checks (above)"
    for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$program" 2>/dev/null; then
        fail "the program still runs 10 s after its window was closed"
        kill "$program"
    fi
    wait "$program"
    status=$?
    [ "$status" = 0 ] && ok "closing the window ends the program with status 0" ||
        fail "the program ended with status $status: $(cat "$work/program.log")"
fi

echo "=== polkit, end to end"
if tests/run-polkit.sh "$build"; then ok "polkit end to end"; else fail "polkit end to end"; fi

if [ "$failures" -gt 0 ]; then
    echo "run-package.sh: $failures check(s) failed"
    exit 1
fi
echo "run-package.sh: all checks passed"
