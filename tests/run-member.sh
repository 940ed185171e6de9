#!/bin/bash
# Runs the member suite (ctest label member): the SAMR backend and the window against a Samba
# member server (tests/servers/samba-member.sh, 127.0.0.7) joined to a copy of the test domain
# controller (127.0.0.3). Both are prepared once into the build folder and restored from that copy
# on every run, and stopped when the suite ends, also when it fails. Everything runs in a network
# namespace of its own; clients see the controller's DNS through a private mount namespace.
#   tests/run-member.sh BUILD-DIR [CTEST-ARGUMENTS...]
set -euo pipefail

if [[ -z ${QUILL_MEMBER_OWN_NET:-} ]]; then
    exec unshare --net -- env QUILL_MEMBER_OWN_NET=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

build=$(readlink -f "${1:?usage: tests/run-member.sh BUILD-DIR}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
member_script=$here/servers/samba-member.sh
dc_script=$here/servers/samba-dc.sh
state=$build/samba-member

mkdir -p "$state"
"$member_script" prepare "$state"
trap '"$member_script" stop "$state" || true' EXIT
"$member_script" start "$state"

eval "$("$member_script" env "$state")"
export KRB5_CONFIG QUILL_AD_STATE QUILL_AD_SCRIPT QUILL_MEMBER_STATE QUILL_MEMBER_SCRIPT
"$dc_script" kinit "$QUILL_AD_STATE" Administrator "FILE:$QUILL_AD_STATE/cc.Administrator"
"$dc_script" kinit "$QUILL_AD_STATE" bob "FILE:$QUILL_AD_STATE/cc.bob"
export KRB5CCNAME=FILE:$QUILL_AD_STATE/cc.Administrator

if [[ -n ${QUILL_MEMBER_SHELL:-} ]]; then
    # For working on the suite: a shell in the same world the tests see.
    unshare -m --propagation private bash -c 'mount --bind "$1" /etc/resolv.conf && exec bash -c "$2"' \
        bash "$QUILL_AD_STATE/resolv.conf" "$QUILL_MEMBER_SHELL"
    exit
fi
unshare -m --propagation private bash -c \
    'mount --bind "$1" /etc/resolv.conf && exec ctest --test-dir "$2" -L member --output-on-failure "${@:3}"' \
    bash "$QUILL_AD_STATE/resolv.conf" "$build" "${@:2}"
