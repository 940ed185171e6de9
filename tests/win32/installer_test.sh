#!/usr/bin/env bash
# Installs, starts, upgrades and removes the program's MSI with msiexec under wine, on a throw-away
# copy of the suite's wine prefix (the suite's own prefix stays as it was).
#
#   installer_test.sh MSI VERSION REBUILT_MSI NEXT_MSI NEXT_VERSION PROGRAM ICON TESTS_EXE
#
# MSI is this version's package, REBUILT_MSI another build of it (a product code of its own),
# NEXT_MSI the same program packaged as a higher version, PROGRAM
# and ICON the files packaged, TESTS_EXE the win32 test program (its Program tests start the installed program). Run by tests/run-win32.sh,
# which provides WINEPREFIX, DISPLAY and the other wine settings.
set -euo pipefail

msi=$1
version=$2
rebuilt=$3
next=$4
next_version=$5
built_program=$6
built_icon=$7
tests_exe=$8
copy=${WINEPREFIX:?run by tests/run-win32.sh}-installer
export WINEPREFIX=$copy
# No menu entries or file associations on the host: the prefix is all the installer may change.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$copy"
}
trap cleanup EXIT
rm -rf "$copy"
cp -a "${copy%-installer}" "$copy"
rm -f "$copy"/.update-timestamp.lock

program_dir="$copy/drive_c/Program Files/Quillmarsh"
description="ADユーザーの利用状態を簡単に設定します。"
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
winpath() { echo "Z:${1//\//\\}"; }
# For each registry key under KEY whose value NAME is Quillmarsh, its value VALUE: one line each.
named_quillmarsh() { # KEY NAME VALUE
    wine reg query "$1" /s 2>/dev/null | tr -d '\r' |
        awk -v name="$2" -v value="$3" '
            function flush() { if (v[name] == "Quillmarsh") print v[value]; split("", v) }
            /^HKEY_/ { flush() }
            NF >= 3 && $2 ~ /^REG_/ { v[$1] = $3 }
            END { flush() }'
}
entries() { named_quillmarsh 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' DisplayName DisplayVersion; }
# Add/Remove Programs shows an installed package's icon from its product registration.
product_icon() { named_quillmarsh 'HKLM\Software\Classes\Installer\Products' ProductName ProductIcon; }
unix_path() { local p=${1#[Cc]:\\}; echo "$copy/drive_c/${p//\\//}"; }
# Windows puts a per-machine package's shortcut in the all-users menu; wine resolves
# ProgramMenuFolder to the user's own menu. Either is the programs menu.
shortcuts() { find "$copy/drive_c/ProgramData" "$copy/drive_c/users" -path '*/Start Menu/Programs/Quillmarsh.lnk'; }
# The file holds the text in this encoding (a shell link keeps its description in UTF-16, its
# target's path in the ANSI code page).
holds() { # FILE ENCODING TEXT
    python3 -c 'import sys; sys.exit(sys.argv[3].encode(sys.argv[2]) not in open(sys.argv[1], "rb").read())' "$@"
}
# Everything in the prefix but wine's temporary folders and the installer cache folder itself.
files_of_prefix() {
    (cd "$copy/drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o \
        ! -path ./windows/Installer -print | sort)
}

before=$(files_of_prefix)

check "installing exits 0" wine msiexec /i "$(winpath "$msi")" /qn
check "the program is in Program Files" test -f "$program_dir/quillmarsh.exe"
check "the program is the built one" cmp -s "$program_dir/quillmarsh.exe" "$built_program"
shortcut=$(shortcuts)
echo "shortcut: ${shortcut:-none}"
check "one Start-menu shortcut" test -n "$shortcut" -a "$(wc -l <<<"$shortcut")" = 1
check "the shortcut carries the description" holds "$shortcut" utf-16-le "$description"
check "the shortcut points at the installed program" holds "$shortcut" ascii 'C:\Program Files\Quillmarsh\quillmarsh.exe'
listed=$(entries)
echo "Add/Remove Programs: ${listed:-none}"
check "one Add/Remove Programs entry, version $version" test "$listed" = "$version"
icon=$(product_icon)
echo "its icon: ${icon:-none}"
check "the entry shows the program's icon" cmp -s "$(unix_path "$icon")" "$built_icon"

# The installed program starts: under wine the directory cannot be read, so it shows its error
# box (titled Quillmarsh) and ends with 1 once the box is answered.
check "the installed program starts from Program Files" \
    env QUILL_PROGRAM='C:\Program Files\Quillmarsh\quillmarsh.exe' \
    wine "$tests_exe" --gtest_filter='Program.*' --gtest_brief=1

check "installing a rebuild of the same version exits 0" wine msiexec /i "$(winpath "$rebuilt")" /qn
check "the rebuild replaces the entry: one, version $version" test "$(entries)" = "$version"

check "upgrading exits 0" wine msiexec /i "$(winpath "$next")" /qn
listed=$(entries)
echo "Add/Remove Programs after the upgrade: ${listed:-none}"
check "the upgrade replaces the entry: one, version $next_version" test "$listed" = "$next_version"
check "the upgraded program is in place" test -f "$program_dir/quillmarsh.exe"
check "the shortcut is still there, once" test "$(shortcuts)" = "$shortcut"
check "the older version is refused" bash -c "! wine msiexec /i '$(winpath "$msi")' /qn"
check "and the newer one stays" test "$(entries)" = "$next_version"

check "uninstalling exits 0" wine msiexec /x "$(winpath "$next")" /qn
check "no Add/Remove Programs entry is left" test -z "$(entries)"
check "the program folder is gone" test ! -e "$program_dir"
check "the shortcut is gone" test -z "$(shortcuts)"
check "the icon is gone" test -z "$(product_icon)" -a ! -e "$(unix_path "$icon")"
left=$(comm -13 <(echo "$before") <(files_of_prefix))
[[ -z $left ]] || echo "left in the prefix:"$'\n'"$left"
check "nothing else is left in the prefix" test -z "$left"
wineserver -w
check "no registry key names Quillmarsh" bash -c "! grep -qi quillmarsh '$copy'/*.reg"

((failures == 0))
