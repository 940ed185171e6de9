#!/bin/bash
# Benchmarks the Unix backend on 10,000 generated local accounts, in a private mount namespace
# over a copy of /etc (the host's files are never touched).
# Usage: bench/unix/run.sh <build-dir>   (as root)
set -euo pipefail

build=$(realpath "${1:?usage: bench/unix/run.sh <build-dir>}")
bench="$build/bench/unix/quill_unix_bench"
[ -x "$bench" ] || { echo "run.sh: build quill_unix_bench first" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "run.sh: needs root (mount namespace)" >&2; exit 2; }

work=$(mktemp -d /tmp/quill-unix-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
cp -a /etc "$work/etc"
mkdir -m 0755 "$work/faillock"
printf 'dir = %s\n' "$work/faillock" > "$work/etc/security/faillock.conf"

# Written straight into the files: useradd would take minutes for this many.
awk -v n=10000 'BEGIN {
    for (i = 1; i <= n; i++) {
        name = sprintf("bench%05d", i); id = 20000 + i
        printf "%s:x:%d:%d:Bench user %d:/home/%s:/bin/sh\n", name, id, id, i, name >> "/dev/stdout"
    }
}' >> "$work/etc/passwd"
awk -v n=10000 'BEGIN { for (i = 1; i <= n; i++)
    printf "bench%05d:$y$j9T$benchsaltbenchsalt$0123456789abcdefghijklmnopqrstuvwxyzABCDE:20000:0:99999:7:::\n", i }' \
    >> "$work/etc/shadow"
awk -v n=10000 'BEGIN { for (i = 1; i <= n; i++) printf "bench%05d:x:%d:\n", i, 20000 + i }' >> "$work/etc/group"
# A tally at the deny limit for the looked-up account, so the lookup reads one too.
python3 - "$work/faillock/bench05000" <<'PY'
import struct, sys, time
with open(sys.argv[1], "wb") as f:
    for i in range(3):
        f.write(struct.pack("=52sHHQ", b"tty1", 0, 1, int(time.time()) - i))
PY

unshare -m --propagation private -- /bin/bash -c '
    mount --bind "$1/etc" /etc
    mount -t tmpfs -o mode=0755 quill-bench /var/log
    echo "accounts in passwd: $(wc -l < /etc/passwd)"
    echo "-- middle of the file"
    "$2" bench05000 500
    echo "-- last account"
    "$2" bench10000 500
' run "$work" "$bench"
