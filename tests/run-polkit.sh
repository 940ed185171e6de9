#!/bin/bash
# End to end through real polkit, against the installed package: in a private mount namespace
# whose /etc is a copy of the host's, with a private system bus and polkitd, a rule grants the
# action org.quillmarsh.local-accounts.manage to one test user and no one else. As that user, the
# real window (the driver program: the window with the platform's own services, driven as a person
# would) unlocks, resets and disables fixture accounts through pkexec and the installed helper.
# A second user, not granted, changes nothing and sees every change reported as failed. The
# outcome is checked with the real tools as root; the host's account files must stay unchanged.
# Usage: tests/run-polkit.sh BUILD-DIR   (as root, after the package is installed)
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/run-polkit.sh BUILD-DIR}")
[ "$(id -u)" = 0 ] || { echo "run-polkit.sh: needs root (mount namespace, useradd)" >&2; exit 2; }
driver=$build/tests/package/quill_window_driver
helper=/usr/libexec/quillmarsh/quillmarsh-local-accounts
for need in "$driver" "$helper" /usr/lib/polkit-1/polkitd /usr/bin/pkexec /usr/bin/dbus-daemon /usr/bin/pamtester; do
    [ -x "$need" ] || { echo "run-polkit.sh: $need is missing" >&2; exit 2; }
done

account_files=(/etc/passwd /etc/shadow /etc/group /etc/gshadow)
before=$(sha256sum "${account_files[@]}")

work=$(mktemp -d /tmp/quill-polkit.XXXXXX)
chmod 755 "$work"
cleanup() {
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

cp -a /etc "$work/etc"
mkdir -m 0755 "$work/faillock" "$work/bin"
# The build folder may be closed to other users: they run a copy.
install -m 0755 "$driver" "$work/bin/"
cat >"$work/etc/security/faillock.conf" <<CONF
dir = $work/faillock
deny = 3
unlock_time = 600
CONF
cat >"$work/etc/pam.d/quill-faillock-test" <<'PAM'
auth     required       pam_faillock.so preauth nodelay
auth     sufficient     pam_unix.so nodelay
auth     [default=die]  pam_faillock.so authfail nodelay
account  required       pam_unix.so
PAM
# A bus needs a machine id, which a freshly bootstrapped system may not have yet.
[ -s "$work/etc/machine-id" ] || dbus-uuidgen >"$work/etc/machine-id"
mkdir -p "$work/etc/polkit-1/rules.d"
cat >"$work/etc/polkit-1/rules.d/10-quill-test.rules" <<'RULE'
polkit.addRule(function(action, subject) {
    if (action.id == "org.quillmarsh.local-accounts.manage" && subject.user == "qm-admin")
        return polkit.Result.YES;
});
RULE

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
work=$1
mount --bind "$work/etc" /etc
for dir in /var/log /var/mail; do
    [ -d "$dir" ] && mount -t tmpfs -o mode=0755 quill-polkit "$dir"
done
# A private /run: the system bus socket and polkitd's state are this run's alone.
mount -t tmpfs -o mode=0755 quill-run /run
mkdir -m 0755 /run/dbus
# A private /dev whose log socket this run reads: what the helper logs is checked below.
mkdir -m 0755 "$work/dev"
mount -t tmpfs -o mode=0755 quill-dev "$work/dev"
for node in null zero full random urandom tty; do
    touch "$work/dev/$node"
    mount --bind "/dev/$node" "$work/dev/$node"
done
mkdir -m 1777 "$work/dev/shm"
ln -s /proc/self/fd "$work/dev/fd"
python3 -c '
import socket, sys
log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
log.bind(sys.argv[1])
with open(sys.argv[2], "ab", buffering=0) as out:
    while True:
        out.write(log.recv(8192) + b"\n")
' "$work/dev/log" "$work/syslog" &
logger=$!
for _ in $(seq 50); do [ -S "$work/dev/log" ] && break; sleep 0.1; done
mount --move "$work/dev" /dev

useradd -M -d /nonexistent -s /usr/sbin/nologin messagebus 2>/dev/null || true
useradd -M -d /nonexistent -s /usr/sbin/nologin polkitd 2>/dev/null || true
dbus-daemon --system --fork --print-pid=3 3>"$work/dbus.pid"
/usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
polkitd=$!
trap 'kill $polkitd $logger $(cat "$work/dbus.pid") 2>/dev/null || true' EXIT
polkit_up() {
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 100); do polkit_up && break; sleep 0.1; done
polkit_up || { echo "run-polkit.sh: polkitd did not come up: $(cat "$work/polkitd.log")" >&2; exit 2; }

# The failed logins pam_faillock holds against an account (faillock(8) does not read the tally
# folder from faillock.conf).
tallies() { faillock --dir "$work/faillock" --user "$1" | tail -n +3; }
state() { # what the account files and the tallies hold for the fixtures
    grep -E '^qm-(locked|reset|disable):' /etc/shadow
    for account in qm-locked qm-reset qm-disable; do tallies "$account"; done
}

for user in qm-admin qm-other; do
    useradd -M -d "$work/home-$user" -s /bin/bash "$user"
    install -d -m 0700 -o "$user" "$work/home-$user" "$work/home-$user/runtime"
done
for account in qm-locked qm-reset qm-disable; do
    useradd -M -c "Fixture $account" -s /bin/bash "$account"
    echo "$account:Initial-Pw1" | chpasswd
done
# A system account (uid below UID_MIN), locked too: no helper caller may change it.
useradd -r -M -c "Fixture qm-system" -s /bin/bash qm-system
echo "qm-system:Initial-Pw1" | chpasswd
for account in qm-locked qm-reset qm-system; do
    for _ in 1 2 3; do pamtester quill-faillock-test "$account" authenticate <<<"wrong-password" >/dev/null 2>&1 || true; done
    [ "$(tallies "$account" | wc -l)" = 3 ] || { echo "run-polkit.sh: could not lock $account" >&2; exit 2; }
done

failures=0
ok() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }


# drive USER ACCOUNT STEP...: the window as USER, its output in $work/USER-ACCOUNT.out
drive() {
    local user=$1 account=$2
    shift 2
    local status=0
    printf '%s\n' "New-Pw-9 x" | timeout 60 setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i PATH=/usr/bin:/bin HOME="$work/home-$user" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        XDG_RUNTIME_DIR="$work/home-$user/runtime" ASAN_OPTIONS=detect_leaks=0 \
        "$work/bin/quill_window_driver" "$account" "$@" >"$work/$user-$account.out" 2>"$work/$user-$account.err" ||
        status=$?
    [ "$status" = 0 ] || fail "$user: the window for $account ended with status $status: $(cat "$work/$user-$account.err")"
}

# expect USER ACCOUNT LINE...: the boxes the person saw, in order
expect_boxes() {
    local user=$1 account=$2
    shift 2
    local want have
    want=$(printf '%s\n' "$@")
    have=$(grep '^BOX' "$work/$user-$account.out" || true)
    if [ "$want" = "$have" ]; then ok "$user, $account: $(printf '%s' "$have" | tail -n 1 | cut -f4)"; else
        fail "$user, $account: boxes differ"
        diff <(echo "$want") <(echo "$have") || true
    fi
}

q_reset=$'BOX\tWarning\tパスワードリセットの確認\tパスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\\nよろしいですか？'
q_reset2=$'BOX\tWarning\tQuillmarsh\tqm-reset のパスワードをリセットします。よろしいですか？'
q_disable=$'BOX\tWarning\t停止の確認\tアカウントを停止すると、利用できなくなります。\\nよろしいですか？'

echo "--- the action's defaults"
# One prompt kept for the window's session only where a person sits at it; elsewhere every start asks.
defaults=$(pkaction --verbose --action-id org.quillmarsh.local-accounts.manage | sed -n 's/^ *implicit \([a-z]*\): *\(.*\)$/\1=\2/p' | tr '\n' ' ')
[ "$defaults" = "any=auth_admin inactive=auth_admin active=auth_admin_keep " ] && ok "defaults: $defaults" ||
    fail "the action's defaults are $defaults"

echo "--- a user the rule does not grant"
untouched=$(state)
drive qm-other qm-locked unlock
drive qm-other qm-reset reset
drive qm-other qm-disable disable
expect_boxes qm-other qm-locked $'BOX\tNoIcon\tQuillmarsh\t解除されませんでした。'
expect_boxes qm-other qm-reset "$q_reset" $'BOX\tNoIcon\tQuillmarsh\t作業を完了できませんでした。'
expect_boxes qm-other qm-disable "$q_disable" $'BOX\tCritical\tQuillmarsh\tアカウントを停止できませんでした。'
[ "$(state)" = "$untouched" ] && ok "qm-other changed nothing" || fail "qm-other changed account state"

echo "--- the user the rule grants"
drive qm-admin qm-locked unlock
drive qm-admin qm-reset reset
drive qm-admin qm-disable disable
grep -q $'^CONDITION\tFixture qm-locked 有効 ロック$' "$work/qm-admin-qm-locked.out" &&
    ok "qm-admin sees qm-locked's condition read through the helper" ||
    fail "qm-admin saw the condition: $(grep CONDITION "$work/qm-admin-qm-locked.out")"
expect_boxes qm-admin qm-locked $'BOX\tNoIcon\tQuillmarsh\t解除されました。'
expect_boxes qm-admin qm-reset "$q_reset" "$q_reset2" $'BOX\tNoIcon\tQuillmarsh\t解除/パスワードリセットされました。'
expect_boxes qm-admin qm-disable "$q_disable" $'BOX\tInformation\tQuillmarsh\tアカウントを停止しました。'

# Granted, but not for a system account: its state shows, the change is refused.
drive qm-admin qm-system unlock
grep -q $'^CONDITION\tFixture qm-system 有効 ロック$' "$work/qm-admin-qm-system.out" &&
    ok "qm-admin sees qm-system's condition" || fail "qm-admin saw: $(grep CONDITION "$work/qm-admin-qm-system.out")"
expect_boxes qm-admin qm-system $'BOX\tNoIcon\tQuillmarsh\t解除されませんでした。'
[ "$(tallies qm-system | wc -l)" = 3 ] && ok "qm-system: still locked" || fail "qm-system was unlocked through the helper"

# The real tools as root say what happened.
[ -z "$(tallies qm-locked)" ] && ok "qm-locked: no failed logins left" ||
    fail "qm-locked is still locked"
[ -z "$(tallies qm-reset)" ] && ok "qm-reset: unlocked" || fail "qm-reset is still locked"
[ "$(getent shadow qm-reset | cut -d: -f3)" = 0 ] && ok "qm-reset: must change the password at the next logon" ||
    fail "qm-reset: last change is $(getent shadow qm-reset | cut -d: -f3), not 0"
pamtester quill-faillock-test qm-reset authenticate <<<"New-Pw-9 x" >/dev/null 2>&1 &&
    ok "qm-reset: the new password opens the account" || fail "qm-reset: the new password is refused"
shadow=$(getent shadow qm-disable)
case "$(echo "$shadow" | cut -d: -f2)" in
    '!'*) ok "qm-disable: password locked" ;;
    *) fail "qm-disable: password not locked" ;;
esac
[ "$(echo "$shadow" | cut -d: -f8)" = 1 ] && ok "qm-disable: expired" || fail "qm-disable: expiry is $(echo "$shadow" | cut -d: -f8)"
# One authpriv line per change, naming the account and the granted user; none for a refusal.
admin_uid=$(id -u qm-admin)
want=$(printf '%s\n' "user 'qm-disable': disable (asked by uid $admin_uid)" \
    "user 'qm-locked': reset failed logins (asked by uid $admin_uid)" \
    "user 'qm-reset': reset failed logins (asked by uid $admin_uid)" \
    "user 'qm-reset': set password, expire password (asked by uid $admin_uid)")
have=$(sed -En 's/^<85>.* quillmarsh-local-accounts\[[0-9]+\]: //p' "$work/syslog" | sort)
[ "$want" = "$have" ] && ok "syslog: one authpriv line per change" ||
    { fail "syslog lines differ"; diff <(echo "$want") <(echo "$have") || true; cat "$work/syslog"; }
grep -q "New-Pw-9" "$work/syslog" && fail "a password reached syslog" || ok "syslog holds no password"
grep -q . "$work/polkitd.log" && sed 's/^/polkitd: /' "$work/polkitd.log" | tail -n 5 || true
exit $((failures > 0))
INSIDE

status=0
unshare -m --propagation private -- /bin/bash "$work/inside.sh" "$work" || status=$?

after=$(sha256sum "${account_files[@]}")
if [ "$before" != "$after" ]; then
    echo "run-polkit.sh: the host's account files changed during the run" >&2
    exit 1
fi
exit "$status"
