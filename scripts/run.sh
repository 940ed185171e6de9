#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it. The arguments, joined, are the
# initial account name.
# This computer's own account states (shadow, faillock) are readable and changeable only by
# root, so the program is started through sudo when you are not root; your display and your
# Kerberos ticket go with it. QUILL_AS_USER=1 starts it as yourself instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target quillmarsh
program=build/default/app/qt/quillmarsh

if [ "$(id -u)" -eq 0 ] || [ "${QUILL_AS_USER:-0}" = 1 ] || ! command -v sudo >/dev/null; then
    exec "$program" "$@"
fi
export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
export KRB5CCNAME="${KRB5CCNAME:-FILE:/tmp/krb5cc_$(id -u)}"
exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,KRB5CCNAME,LANG "$program" "$@"
