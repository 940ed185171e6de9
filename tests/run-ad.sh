#!/bin/bash
# Runs the ad suite (ctest label ad) against a throw-away Samba domain controller on 127.0.0.3
# (QUILL_DC_IP chooses another loopback address), then the tests of label dcpair against that
# controller joined by a second one on 127.0.0.4 (QUILL_DC2_IP).
# The controller is provisioned once into the build folder and restored from that copy on every
# run; it is stopped when the suite ends, also when it fails. Clients see the controller's DNS
# through a private mount namespace; the host's own /etc is never changed. Everything runs in a
# network namespace of its own, where the fault tests drop the controller's packets with nftables.
#   tests/run-ad.sh BUILD-DIR [CTEST-ARGUMENTS...]   e.g. -R MidWrite to run some of them
set -euo pipefail

if [[ -z ${QUILL_AD_OWN_NET:-} ]]; then
    exec unshare --net -- env QUILL_AD_OWN_NET=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

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

tests() {
    unshare -m --propagation private bash -c \
        'mount --bind "$1" /etc/resolv.conf && exec ctest --test-dir "$2" --output-on-failure "${@:3}"' \
        bash "$state/resolv.conf" "$build" "$@"
}
status=0
tests -L ad "${@:2}" || status=$?

# Then two controllers (ctest label dcpair): the first joined by a second that holds the PDC role.
"$dc_script" start "$state" pair
"$dc_script" kinit "$state" Administrator "FILE:$state/cc.Administrator"
QUILL_AD_PAIR=1 tests -L dcpair "${@:2}" || status=$?
exit $status
