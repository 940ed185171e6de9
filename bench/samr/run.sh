#!/bin/bash
# The SAMR backend's benchmarks against a throw-away Samba member server (tests/servers/
# samba-member.sh, 127.0.0.7) in a network namespace of its own. Prints, from one run:
#   - the condition lookup on an open pipe against the bare QueryUserInfo call on the same pipe;
#   - the same lookup against rpcclient -k -c 'queryuser NAME', one process per lookup, as an
#     administrator would type it;
#   - the first lookup of a window, with connect, Kerberos and the routing decision.
#   bench/samr/run.sh [BUILD-DIR]   (default build/default, the release build; needs the target
#                                   quill_samr_bench)
# ROUNDS (lookups on the open pipe, default 2000), FIRSTS (first lookups, default 9) and
# RPCCLIENT (rpcclient runs, default 20) tune the effort.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:-$root/build/default}")
bench=$build/bench/samr/quill_samr_bench
member=$root/tests/servers/samba-member.sh
dc=$root/tests/servers/samba-dc.sh
state=$build/samba-member
rounds=${ROUNDS:-2000}
firsts=${FIRSTS:-9}
rpc_runs=${RPCCLIENT:-20}
account=kiosk
host=files1.quill.test

if [[ -z ${QUILL_BENCH_OWN_NET:-} ]]; then
    [[ -x $bench ]] || { echo "build the target quill_samr_bench in $build first" >&2; exit 1; }
    exec unshare --net -- env QUILL_BENCH_OWN_NET=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$build"
fi
if [[ -z ${QUILL_BENCH_INSIDE:-} ]]; then
    mkdir -p "$state"
    "$member" prepare "$state"
    trap '"$member" stop "$state" || true' EXIT
    "$member" start "$state"
    QUILL_BENCH_INSIDE=1 unshare -m --propagation private bash -c \
        'mount --bind "$1" /etc/resolv.conf && exec bash "$2" "$3"' bash "$state/ad/resolv.conf" "$0" "$build"
    exit 0
fi

export KRB5_CONFIG=$state/ad/krb5.conf KRB5CCNAME=FILE:$state/ad/cc.bench ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
"$dc" kinit "$state/ad" Administrator "$KRB5CCNAME"

out=$("$bench" "$host" "$account" "$rounds" "$firsts")
value() { awk -v k="$1" '$1 == k { print $2 }' <<< "$out"; }
lookup=$(value lookup_us)
raw=$(value raw_query_us)
first=$(value first_lookup_us)

# rpcclient as typed by hand: one process, connect and Kerberos included, per lookup.
times=()
for _ in $(seq "$rpc_runs"); do
    begin=$EPOCHREALTIME
    rpcclient -s /dev/null --use-kerberos=required -c "queryuser $account" "$host" > /dev/null 2>&1 ||
        { echo "rpcclient failed" >&2; exit 1; }
    times+=("$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", (b - a) * 1e6 }')")
done
rpc=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')

echo "condition lookup of $account on $host: $(sed -n 's/^condition //p' <<< "$out")"
awk -v l="$lookup" -v r="$raw" -v p="$rpc" -v f="$first" -v rounds="$rounds" -v firsts="$firsts" -v runs="$rpc_runs" 'BEGIN {
    printf "open pipe: condition lookup %.1f us / bare QueryUserInfo %.1f us = %.2fx (target <= 1.25x, medians of %d)\n", l, r, l / r, rounds
    printf "rpcclient -k queryuser %.0f us / condition lookup %.1f us = %.0fx faster (target >= 30x, median of %d runs)\n", p, l, p / l, runs
    printf "first lookup (connect, Kerberos, routing): %.3f s (target <= 0.2 s, median of %d)\n", f / 1e6, firsts
}'
