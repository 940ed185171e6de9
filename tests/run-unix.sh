#!/bin/bash
# Runs the unix suite (this computer's own accounts) with the real shadow tools and pam_faillock,
# inside a private mount namespace whose /etc is a copy of the host's. The host's account files
# are checksummed before and after: any change to them fails the run.
# Usage: tests/run-unix.sh <build-dir> [test-name-regex]   (as root)
set -euo pipefail

build=$(realpath "${1:?usage: tests/run-unix.sh <build-dir>}")
[ "$(id -u)" = 0 ] || { echo "run-unix.sh: needs root (mount namespace, useradd)" >&2; exit 2; }
for tool in unshare useradd usermod chage chpasswd gpasswd faillock pamtester ctest; do
    command -v "$tool" >/dev/null || { echo "run-unix.sh: $tool is missing" >&2; exit 2; }
done

account_files=(/etc/passwd /etc/shadow /etc/group /etc/gshadow)
checksums() { sha256sum "${account_files[@]}" 2>/dev/null; }
before=$(checksums)

work=$(mktemp -d /tmp/quill-unix-sandbox.XXXXXX)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT INT TERM

# A whole copy, not single files: the tools replace files by rename, which a file bind mount refuses.
cp -a /etc "$work/etc"
mkdir -m 0755 "$work/faillock"
cat > "$work/etc/security/faillock.conf" <<CONF
# private tally directory for the test run
dir = $work/faillock
deny = 3
unlock_time = 600
CONF
# Groups from 100 on are the site's own here: the helper, as a pkexec caller, may then manage
# "users" (gid 100) but not the groups below, and must take the bound from login.defs.
sed -i '/^GID_MIN[[:space:]]/d' "$work/etc/login.defs"
echo 'GID_MIN 100' >> "$work/etc/login.defs"
# sudo's files as Debian installs them, whatever the host has; the helper tests write their
# rules over the "# rules" lines. quill.disabled is a name sudo's includedir skips.
printf '%s\n' 'Defaults	env_reset' 'root	ALL=(ALL:ALL) ALL' '%sudo	ALL=(ALL:ALL) ALL' '# rules' \
    '@includedir /etc/sudoers.d' > "$work/etc/sudoers"
rm -rf "$work/etc/sudoers.d" && mkdir -m 0755 "$work/etc/sudoers.d"
for file in quill-test quill.disabled; do echo '# rules' > "$work/etc/sudoers.d/$file"; done
chmod 0440 "$work/etc/sudoers" "$work/etc/sudoers.d"/*
# A PAM service that counts failed logins the way a faillock-protected login does.
cat > "$work/etc/pam.d/quill-faillock-test" <<'PAM'
auth     required       pam_faillock.so preauth nodelay
auth     sufficient     pam_unix.so nodelay
auth     [default=die]  pam_faillock.so authfail nodelay
account  required       pam_unix.so
PAM

status=0
unshare -m --propagation private -- /bin/bash -c '
    set -e
    mount --bind "$1/etc" /etc
    # useradd and PAM may also touch lastlog, faillog and mail spools: keep those private too.
    for dir in /var/log /var/mail; do
        [ -d "$dir" ] && mount -t tmpfs -o mode=0755 quill-unix "$dir"
    done
    export QUILL_UNIX_SANDBOX=1 TZ=UTC
    ctest --test-dir "$2" -L unix --output-on-failure ${3:+-R "$3"}
' run-unix "$work" "$build" "${2:-}" || status=$?

after=$(checksums)
if [ "$before" != "$after" ]; then
    echo "run-unix.sh: the host's account files changed during the run" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    exit 1
fi
echo "run-unix.sh: host account files unchanged"
exit "$status"
