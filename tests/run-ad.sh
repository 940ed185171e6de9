#!/bin/bash
# Runs the ad suite (ctest label ad) against a throw-away Samba domain controller on 127.0.0.3
# (QUILL_DC_IP chooses another loopback address), then the tests of label dcpair against a small
# enterprise: that controller and a second one on 127.0.0.4 (QUILL_DC2_IP) in the head office
# site, and a read-only one on 127.0.0.10 (QUILL_RODC_IP) in a branch site. Its clients, these
# tests among them, are in the head office unless a test moves them (samba-dc.sh client).
# The controller is provisioned once into the build folder and restored from that copy on every
# run; it is stopped when the suite ends, also when it fails. Clients see the controller's DNS
# through a private mount namespace; the host's own /etc is never changed. Everything runs in a
# network namespace of its own, where the fault tests drop the controller's packets with nftables.
#   tests/run-ad.sh BUILD-DIR [CTEST-ARGUMENTS...]   e.g. -R MidWrite to run some of them
#   QUILL_AD_SHELL='bash -i' tests/run-ad.sh BUILD-DIR   a shell in the enterprise, as the tests see it
set -euo pipefail

if [[ -z ${QUILL_AD_OWN_NET:-} ]]; then
    exec unshare --net -- env QUILL_AD_OWN_NET=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

build=$(readlink -f "${1:?usage: tests/run-ad.sh BUILD-DIR}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dc_script=$here/servers/samba-dc.sh
state=$build/samba-ad

# The enterprise is prepared from the pair's copy, which is prepared from the single controller's.
"$dc_script" prepare "$state" enterprise
trap '"$dc_script" stop "$state" || true' EXIT
export KRB5_CONFIG=$state/krb5.conf QUILL_AD_STATE=$state QUILL_AD_SCRIPT=$dc_script
export KRB5CCNAME=FILE:$state/cc.Administrator

# start VARIANT: the controllers, and tickets made there; the enterprise's clients in the head office.
start() {
    "$dc_script" start "$state" "$1"
    "$dc_script" kinit "$state" Administrator "FILE:$state/cc.Administrator"
    "$dc_script" kinit "$state" bob "FILE:$state/cc.bob"
    [[ $1 != enterprise ]] || "$dc_script" client "$state" head
}
# in_domain COMMAND...: runs a command that resolves names through the controller's DNS.
in_domain() {
    unshare -m --propagation private bash -c 'mount --bind "$1" /etc/resolv.conf && shift && exec "$@"' \
        bash "$state/resolv.conf" "$@"
}

if [[ -n ${QUILL_AD_SHELL:-} ]]; then
    start enterprise
    QUILL_AD_PAIR=1 in_domain bash -c "$QUILL_AD_SHELL"
    exit
fi

start base
status=0
in_domain ctest --test-dir "$build" --output-on-failure -L ad "${@:2}" || status=$?

# Then the enterprise (ctest label dcpair), with the clients in the head office.
start enterprise
QUILL_AD_PAIR=1 in_domain ctest --test-dir "$build" --output-on-failure -L dcpair "${@:2}" || status=$?
exit $status
