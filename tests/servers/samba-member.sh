#!/bin/bash
# A throw-away Samba member server (smbd + winbindd, security = ads) on 127.0.0.7 (QUILL_MEMBER_IP),
# joined to its own copy of the test domain controller of samba-dc.sh, for the member suite and
# the SAMR benchmark. Call it inside a network namespace of its own (tests/run-member.sh does).
# The member runs in a private mount namespace where its own configuration, state and a fixture
# passwd/group are mounted over /etc/samba, /var/lib/samba, /var/cache/samba, /run/samba,
# /etc/passwd, /etc/group and /etc/nsswitch.conf. Its Kerberos keys stay in its secrets.tdb (no
# keytab), so the host's own files are never changed.
#
#   samba-member.sh prepare STATE   provision the DC copy (with SMB and RPC on, which the join and
#                                   winbindd need), join the member, keep a pristine copy of both
#   samba-member.sh start STATE     restore the pristine copy, start the DC and the member
#   samba-member.sh stop STATE      stop both (SIGTERM, then SIGKILL)
#   samba-member.sh pause|resume STATE   SIGSTOP / SIGCONT to every process of the member
#   samba-member.sh restart STATE   stop the member and start it again on the same data
#   samba-member.sh exec STATE CMD...    run CMD as the member sees the world (pdbedit -v, ...)
#   samba-member.sh env STATE       the variables a client needs, as shell assignments
#
# STATE must be an absolute path. Local accounts: kiosk, clerk, resetme, stopped (disabled),
# shared (in the local group Operators). Passwords are random, in STATE/passwords (mode 600).
set -euo pipefail

readonly MEMBER=FILES1 MEMBERHOST=files1 DNSDOMAIN=quill.test MEMBERIP=${QUILL_MEMBER_IP:-127.0.0.7}
readonly LAYOUT=1
readonly LOCAL_USERS="kiosk clerk resetme stopped shared"

die() { echo "samba-member: $*" >&2; exit 1; }

command=${1:-}
state=${2:-}
[[ -n $command && -n $state ]] || die "usage: $0 prepare|start|stop|pause|resume|exec|env STATE ..."
[[ $state == /* ]] || die "STATE must be an absolute path"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dc_script=$here/samba-dc.sh
dcstate=$state/ad
m=$state/member

pristine() {
    local sum
    sum=$(cat "$dc_script" "${BASH_SOURCE[0]}" | md5sum | cut -c1-12)
    echo "$state/pristine-v$LAYOUT-$sum.tar"
}

# Runs "$@" in the member's mount namespace.
in_member() {
    unshare -m --propagation private bash -c '
        m=$1; shift
        # A mount point of this member'"'"'s own: how stop and pause find every process it started.
        mount --bind "$m" "$m"
        if [ ! -d /run/samba ]; then mount -t tmpfs -o mode=0755 quill-member-run /run && mkdir /run/samba; fi
        mount --bind "$m/run" /run/samba
        mount --bind "$m/etc" /etc/samba
        mount --bind "$m/lib" /var/lib/samba
        mount --bind "$m/cache" /var/cache/samba
        mount --bind "$m/passwd" /etc/passwd
        mount --bind "$m/group" /etc/group
        mount --bind "$m/nsswitch.conf" /etc/nsswitch.conf
        export KRB5_CONFIG=$m/krb5.conf
        mount --bind "$m/resolv.conf" /etc/resolv.conf
        exec "$@"' bash "$m" "$@"
}

write_member_files() {
    mkdir -p "$m/run" "$m/etc" "$m/lib/private" "$m/cache" "$state/passwords"
    chmod 0700 "$state/passwords"
    cp "$dcstate/krb5.conf" "$m/krb5.conf"
    cp "$dcstate/resolv.conf" "$m/resolv.conf"
    cat > "$m/etc/smb.conf" <<CONF
[global]
	workgroup = QUILL
	realm = QUILL.TEST
	netbios name = $MEMBER
	security = ads
	server role = member server
	interfaces = $MEMBERIP/8
	bind interfaces only = yes
	disable netbios = yes
	smb ports = 445
	server min protocol = SMB2_02
	passdb backend = tdbsam
	kerberos method = secrets only
	winbind use default domain = no
	winbind enum users = no
	idmap config * : backend = tdb
	idmap config * : range = 3000-7999
	idmap config QUILL : backend = rid
	idmap config QUILL : range = 10000-999999
	load printers = no
	printing = bsd
	printcap name = /dev/null
	log level = 1
CONF
}

# The host's system accounts plus the fixture's local users (uids 2001-), so pdbedit finds them.
write_unix_files() {
    grep -E '^(root|daemon|nobody):' /etc/passwd > "$m/passwd"
    grep -E '^(root|daemon|nogroup|users):' /etc/group > "$m/group"
    local uid=2001 name
    for name in $LOCAL_USERS; do
        echo "$name:x:$uid:100::/nonexistent:/usr/sbin/nologin" >> "$m/passwd"
        uid=$((uid + 1))
    done
    echo "operators:x:2100:" >> "$m/group"
    printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files dns\n' > "$m/nsswitch.conf"
}

# The copy of the DC with SMB on: up once its file server answers too.
start_dc() {
    "$dc_script" start "$dcstate" keep
    local i
    for i in $(seq 100); do
        (exec 3<> /dev/tcp/127.0.0.3/445) 2> /dev/null && return 0
        sleep 0.1
    done
    die "the domain controller's file server did not start"
}

# Every process in a mount namespace of this member (see in_member), whatever became of its parent.
member_pids() {
    local proc
    for proc in /proc/[0-9]*; do
        grep -qsF " $m " "$proc/mountinfo" && echo "${proc#/proc/}"
    done
    return 0
}

# The processes a process started, and theirs.
descendants() {
    local child
    for child in $(pgrep -P "$1" 2> /dev/null || true); do
        echo "$child"
        descendants "$child"
    done
}

# The copy of the DC, with the file server and RPC daemons its samba process started: those
# outlive samba when it stops.
stop_dc() {
    local pid pids=
    pid=$(cat "$dcstate/dc/run/samba.pid" 2> /dev/null || true)
    [[ -n $pid ]] && pids=$(descendants "$pid")
    "$dc_script" stop "$dcstate" || true
    for pid in $pids; do kill -KILL "$pid" 2> /dev/null || true; done
}

stop_member() {
    local pid pids i any
    pids=$(member_pids)
    for pid in $pids; do kill -CONT "$pid" 2> /dev/null || true; kill -TERM "$pid" 2> /dev/null || true; done
    for i in $(seq 50); do
        any=
        for pid in $pids; do kill -0 "$pid" 2> /dev/null && any=1; done
        [[ -z $any ]] && break
        sleep 0.1
    done
    for pid in $(member_pids); do kill -KILL "$pid" 2> /dev/null || true; done
    rm -f "$m"/run/*.pid
}
start_member() {
    in_member smbd -F --debug-stdout < /dev/null > "$state/smbd.log" 2>&1 &
    in_member winbindd -F --debug-stdout < /dev/null > "$state/winbindd.log" 2>&1 &
    local i
    for i in $(seq 150); do
        if [[ -f $m/run/smbd.pid ]] && (exec 3<> /dev/tcp/$MEMBERIP/445) 2> /dev/null &&
            in_member wbinfo -p > /dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    tail -20 "$state/smbd.log" "$state/winbindd.log" >&2
    die "the member server did not start"
}

# The domain users who log on to the member, in its passwd with the uids winbindd's idmap gives
# them, so smbd finds them without libnss-winbind (whose installation edits the host's nsswitch.conf).
add_domain_users() {
    local name sid uid
    for name in Administrator bob; do
        sid=$(in_member wbinfo --name-to-sid "QUILL\\$name" | cut -d' ' -f1)
        uid=$(in_member wbinfo --sid-to-uid "$sid")
        [[ $uid =~ ^[0-9]+$ ]] || die "no uid for QUILL\\$name"
        echo "QUILL\\${name,,}:x:$uid:10513::/nonexistent:/usr/sbin/nologin" >> "$m/passwd"
    done
    echo "QUILL\\domain users:x:10513:" >> "$m/group"
}

password_of() {
    local name=$1 f=$state/passwords/$1
    if [[ ! -f $f ]]; then
        (umask 077; printf 'Qm-%s-7b\n' "$(head -c 6 /dev/urandom | od -An -tx1 | tr -d ' \n')" > "$f")
    fi
    head -1 "$f"
}

prepare() {
    [[ -f $(pristine) ]] && return 0
    stop_member
    stop_dc
    rm -rf "$m" "$state"/pristine-*.tar
    "$dc_script" prepare "$dcstate"
    # A fresh copy of the pristine DC, then SMB and RPC on: the join and winbindd need them.
    "$dc_script" start "$dcstate"
    stop_dc
    sed -i -e '/dcerpc endpoint servers/d' -e 's/^\(\s*server services = \).*/\1ldap cldap kdc dns s3fs rpc winbindd/' \
        "$dcstate/dc/etc/smb.conf"
    start_dc
    trap 'stop_dc; stop_member' EXIT
    write_member_files
    write_unix_files
    "$dc_script" kinit "$dcstate" Administrator "FILE:$state/cc.join"
    KRB5CCNAME=FILE:$state/cc.join in_member net ads join -k --no-dns-updates > "$state/join.log" 2>&1 ||
        { cat "$state/join.log" >&2; die "join failed"; }
    KRB5CCNAME=FILE:$state/cc.join in_member \
        samba-tool dns add 127.0.0.3 $DNSDOMAIN $MEMBERHOST A "$MEMBERIP" -k yes > /dev/null 2>&1 ||
        KRB5CCNAME=FILE:$state/cc.join in_member net ads dns register -k "$MEMBERHOST.$DNSDOMAIN" "$MEMBERIP" \
            > /dev/null 2>&1 || die "could not register $MEMBERHOST.$DNSDOMAIN"
    local name
    for name in $LOCAL_USERS; do
        printf '%s\n%s\n' "$(password_of "$name")" "$(password_of "$name")" |
            in_member smbpasswd -s -a "$name" > /dev/null
    done
    in_member pdbedit -u kiosk --fullname=Kiosk -N 受付端末 > /dev/null 2>&1 || true
    in_member pdbedit -r -u clerk -N 窓口係 > /dev/null
    in_member pdbedit -r -u stopped -N 停止中 -c '[D]' > /dev/null
    start_member
    add_domain_users
    in_member net sam createlocalgroup Operators > /dev/null
    in_member net sam addmem "$MEMBER\\Operators" "$MEMBER\\shared" > /dev/null
    # The join usually grants this already; make sure of it. winbindd makes the builtin alias a
    # moment after it answers, and not at all on some starts: wait for it, then make it.
    local i
    for i in $(seq 40); do
        in_member net sam listmem 'BUILTIN\Administrators' > "$state/admins" 2> /dev/null && break
        [[ $i == 20 ]] && { in_member net sam createbuiltingroup Administrators > /dev/null 2>&1 || true; }
        sleep 0.25
    done
    grep -qi 'QUILL\\Domain Admins' "$state/admins" ||
        in_member net sam addmem 'BUILTIN\Administrators' 'QUILL\Domain Admins' > /dev/null
    stop_member
    stop_dc
    trap - EXIT
    rm -f "$state/cc.join"
    rm -rf "$m/run" && mkdir "$m/run"
    tar -C "$state" --warning=no-file-ignored -cf "$(pristine)" ad/dc member
}

case $command in
prepare) prepare ;;
start)
    prepare
    stop_member
    stop_dc
    rm -rf "$dcstate/dc" "$m"
    tar -C "$state" -xf "$(pristine)"
    start_dc
    start_member
    ;;
stop)
    stop_member
    stop_dc
    ;;
restart)
    stop_member
    start_member
    ;;
pause | resume)
    signal=STOP
    [[ $command == resume ]] && signal=CONT
    for pid in $(member_pids); do kill -$signal "$pid" 2> /dev/null || true; done
    ;;
exec)
    shift 2
    in_member "$@"
    ;;
env)
    "$dc_script" env "$dcstate"
    printf 'QUILL_MEMBER_STATE=%q\nQUILL_MEMBER_SCRIPT=%q\n' "$state" "$(readlink -f "$0")"
    ;;
*) die "unknown command $command" ;;
esac
