#!/bin/bash
# Runs the ad suite (ctest label ad) against a throw-away Samba domain controller on 127.0.0.3
# (QUILL_DC_IP chooses another loopback address).
# The controller is provisioned once into the build folder and restored from that copy on every
# run; it is stopped when the suite ends, also when it fails. Clients see the controller's DNS
# through a private mount namespace; the host's own /etc is never changed.
#   tests/run-ad.sh BUILD-DIR
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/run-ad.sh BUILD-DIR}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dc_script=$here/servers/samba-dc.sh
state=$build/samba-ad

"$dc_script" prepare "$state"
trap '"$dc_script" stop "$state" || true' EXIT
"$dc_script" start "$state"

export KRB5_CONFIG=$state/krb5.conf QUILL_AD_STATE=$state QUILL_AD_SCRIPT=$dc_script
"$dc_script" kinit "$state" Administrator "FILE:$state/cc.Administrator"
"$dc_script" kinit "$state" bob "FILE:$state/cc.bob"
export KRB5CCNAME=FILE:$state/cc.Administrator

unshare -m --propagation private bash -c \
    'mount --bind "$1" /etc/resolv.conf && exec ctest --test-dir "$2" -L ad --output-on-failure' \
    bash "$state/resolv.conf" "$build"
