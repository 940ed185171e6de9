#!/bin/bash
# A throw-away Samba Active Directory domain controller on 127.0.0.3 (QUILL_DC_IP, for a second
# controller beside the first) for the ad suite and the
# LDAP benchmarks. It never touches the host's /etc: samba runs in a private mount namespace with
# its own /run/samba, clients get KRB5_CONFIG and a resolv.conf that are bind-mounted by the caller.
#
#   samba-dc.sh prepare STATE [big]   provision once and keep a pristine copy (big: +USERS users,
#                                     default 10,000; each count has its own copy)
#   samba-dc.sh start STATE [big|keep] restore the pristine copy (keep: reuse the data) and start
#   samba-dc.sh stop STATE            SIGTERM, then SIGKILL after 10 s
#   samba-dc.sh kill STATE            SIGKILL at once, as a crash would
#   samba-dc.sh kinit STATE USER CCACHE   a ticket for USER, password from STATE/passwords on stdin
#   samba-dc.sh env STATE             the variables a client needs, as shell assignments
#
# STATE must be an absolute path; a provisioned database only works at the path it was made in.
set -euo pipefail

readonly REALM=QUILL.TEST DOMAIN=QUILL DNSDOMAIN=quill.test DCHOST=dc1 DCIP=${QUILL_DC_IP:-127.0.0.3}
readonly BASEDN=DC=quill,DC=test
# Extra users in the big variant (benchmarks).
readonly USERS=${USERS:-10000}
# Bump when what prepare produces changes, so cached copies are rebuilt.
readonly LAYOUT=5

die() { echo "samba-dc: $*" >&2; exit 1; }
[[ $USERS =~ ^[0-9]+$ && $USERS -le 99999 ]] || die "USERS must be a number up to 99999"

command=${1:-}
state=${2:-}
[[ -n $command && -n $state ]] || die "usage: $0 prepare|start|stop|kill|kinit|env STATE ..."
[[ $state == /* ]] || die "STATE must be an absolute path"
dc=$state/dc

write_client_files() {
    mkdir -p "$state"
    cat > "$state/krb5.conf" <<KRB
[libdefaults]
	default_realm = $REALM
	dns_lookup_realm = false
	dns_lookup_kdc = false
	rdns = false
	dns_canonicalize_hostname = false
	udp_preference_limit = 1
[realms]
$REALM = {
	kdc = $DCIP
	admin_server = $DCIP
	kpasswd_server = $DCIP
	default_domain = $DNSDOMAIN
}
[domain_realm]
	.$DNSDOMAIN = $REALM
	$DNSDOMAIN = $REALM
KRB
    printf 'search %s\nnameserver %s\noptions timeout:1 attempts:2\n' "$DNSDOMAIN" "$DCIP" > "$state/resolv.conf"
}

# Test accounts: name, userAccountControl, description, member of Staff. Passwords are random and
# stay in files (mode 600) under STATE/passwords.
make_ldif() {
    local out=$1 bench=$2
    python3 - "$out" "$state/passwords" "$bench" <<'PY'
import base64, os, secrets, sys
out, pwdir, bench = sys.argv[1], sys.argv[2], int(sys.argv[3])
base = "DC=quill,DC=test"
os.makedirs(pwdir, mode=0o700, exist_ok=True)

def password(name):
    path = os.path.join(pwdir, name)
    if os.path.exists(path):
        return open(path).read().strip()
    pw = "Qm-" + secrets.token_hex(6) + "-9a"
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    os.write(fd, (pw + "\n").encode())
    os.close(fd)
    return pw

def b64pwd(pw):
    return base64.b64encode(('"%s"' % pw).encode("utf-16-le")).decode()

def b64(text):
    return base64.b64encode(text.encode("utf-8")).decode()

users = [
    ("bob", 512, "一般利用者", False),
    ("jdoe", 512, "テスト 利用者", True),
    ("locky", 512, "ロック試験", False),
    ("resetme", 512, "", False),
    ("expiring", 512, "期限試験", False),
    ("stopped", 514, "停止中", False),
    ("trail", 512, "末尾  ", False),
    ("member1", 512, "所属試験", False),
    ("flow", 512, "画面試験", False),
    ("refused", 512, "拒否試験", False),
    ("crashy", 512, "障害試験", False),
]
with open(out, "w") as f:
    f.write("dn: CN=Administrator,CN=Users,%s\nchangetype: modify\nreplace: unicodePwd\nunicodePwd:: %s\n-\n\n"
            % (base, b64pwd(password("Administrator"))))
    for name, uac, desc, staff in users:
        f.write("dn: CN=%s,CN=Users,%s\nchangetype: add\nobjectClass: user\nsAMAccountName: %s\n"
                "userPrincipalName: %s@QUILL.TEST\nuserAccountControl: %d\nunicodePwd:: %s\n"
                % (name, base, name, name, uac, b64pwd(password(name))))
        if desc:
            f.write("description:: %s\n" % b64(desc))
        f.write("\n")
    # What samba_spnupdate would add at the first start, so GSSAPI binds find ldap/<host>.
    f.write("dn: CN=DC1,OU=Domain Controllers,%s\nchangetype: modify\nadd: servicePrincipalName\n" % base)
    for spn in ("ldap/dc1.quill.test", "ldap/DC1", "ldap/dc1.quill.test/QUILL", "ldap/dc1.quill.test/quill.test",
                "GC/dc1.quill.test/quill.test"):
        f.write("servicePrincipalName: %s\n" % spn)
    f.write("-\n\n")
    f.write("dn: CN=Staff,CN=Users,%s\nchangetype: add\nobjectClass: group\nsAMAccountName: Staff\n"
            "groupType: -2147483646\ndescription: Staff members\nmember: CN=jdoe,CN=Users,%s\n\n" % (base, base))
    f.write("dn: CN=NoDesc,CN=Users,%s\nchangetype: add\nobjectClass: group\nsAMAccountName: NoDesc\n"
            "groupType: -2147483646\n\n" % base)
    f.write("dn: CN=Crew,CN=Users,%s\nchangetype: add\nobjectClass: group\nsAMAccountName: Crew\n"
            "groupType: -2147483646\n\n" % base)
# The bench users in files of 2,000: ldbmodify slows down more than linearly within one transaction.
for start in range(0, bench, 2000):
    with open("%s.bench%05d" % (out, start), "w") as f:
        for i in range(start, min(start + 2000, bench)):
            f.write("dn: CN=bench%05d,CN=Users,%s\nchangetype: add\nobjectClass: user\nsAMAccountName: bench%05d\n"
                    "description: bench\n\n" % (i, base, i))
PY
}

pristine() {
    local variant=$1
    [[ $variant == big && $USERS != 10000 ]] && variant=big$USERS
    echo "$state/pristine-$variant-v$LAYOUT.tar"
}

provision() {
    local variant=$1 bench=0
    [[ $variant == big ]] && bench=$USERS
    [[ -f $(pristine "$variant") ]] && return 0
    stop_dc
    write_client_files
    rm -rf "$dc"
    mkdir -p "$dc/run" "$dc/ncalrpc" "$dc/ntp_signd"
    chmod 0750 "$dc/ntp_signd"
    : > "$state/empty.conf"
    # The random administrator password it logs is replaced below; the log is not kept.
    samba-tool domain provision -s "$state/empty.conf" --targetdir="$dc" --realm=$REALM --domain=$DOMAIN \
        --server-role=dc --dns-backend=SAMBA_INTERNAL --host-name=$DCHOST --host-ip=$DCIP \
        --option="interfaces = $DCIP/8" --option="bind interfaces only = yes" \
        --option="pid directory = $dc/run" --option="ncalrpc dir = $dc/ncalrpc" \
        --option="ntp signd socket directory = $dc/ntp_signd" > /dev/null 2> "$state/provision.log" \
        || { grep -v 'Admin password' "$state/provision.log" | tail -20 >&2; die "provision failed"; }
    rm -f "$state/provision.log"
    # Only what the clients use; no forwarding out of the loopback.
    sed -i -e '/dns forwarder/d' \
        -e 's/^\[global\]/[global]\n\tserver services = ldap cldap kdc dns\n\tdcerpc endpoint servers = /' \
        "$dc/etc/smb.conf"
    samba-tool domain passwordsettings set -H "$dc/private/sam.ldb" --account-lockout-threshold=3 \
        --account-lockout-duration=30 --reset-account-lockout-after=30 --history-length=0 \
        --min-pwd-age=0 > /dev/null
    local ldif=$state/accounts.ldif
    rm -f "$ldif" "$ldif".bench*
    make_ldif "$ldif" $bench
    local part
    for part in "$ldif" "$ldif".bench*; do
        [[ -f $part ]] || continue
        ldbmodify -H "$dc/private/sam.ldb" "$part" > /dev/null || die "loading accounts failed"
        rm -f "$part"
    done
    tar -C "$state" -cf "$(pristine "$variant")" dc
}

dc_pid() { [[ -f $dc/run/samba.pid ]] && cat "$dc/run/samba.pid" || true; }

alive() { local pid; pid=$(dc_pid); [[ -n $pid ]] && kill -0 "$pid" 2> /dev/null; }

stop_dc() {
    local signal=${1:-TERM} pid i
    pid=$(dc_pid)
    [[ -n $pid ]] || return 0
    kill -"$signal" "$pid" 2> /dev/null || true
    for i in $(seq 100); do
        kill -0 "$pid" 2> /dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2> /dev/null || true
    rm -f "$dc/run/samba.pid"
}

start_dc() {
    local mode=$1
    stop_dc
    if [[ $mode != keep ]]; then
        [[ -f $(pristine "$mode") ]] || provision "$mode"
        rm -rf "$dc"
        tar -C "$state" -xf "$(pristine "$mode")"
    fi
    write_client_files
    mkdir -p "$state/run-samba"
    unshare -m --propagation private sh -c \
        'if [ ! -d /run/samba ]; then mount -t tmpfs -o mode=0755 quill-run /run && mkdir /run/samba; fi
         mount --bind "$1" /run/samba && exec samba -F -M single -s "$2" --debug-stdout' sh \
        "$state/run-samba" "$dc/etc/smb.conf" > "$state/samba.log" 2>&1 < /dev/null &
    local i
    for i in $(seq 150); do
        if alive && (exec 3<> /dev/tcp/$DCIP/389) 2> /dev/null && (exec 3<> /dev/tcp/$DCIP/88) 2> /dev/null; then
            return 0
        fi
        sleep 0.1
    done
    tail -20 "$state/samba.log" >&2
    die "the domain controller did not start"
}

case $command in
prepare) provision "${3:-base}" ;;
start) start_dc "${3:-base}" ;;
stop) stop_dc TERM ;;
kill) stop_dc KILL ;;
kinit)
    user=${3:?user} ccache=${4:?ccache}
    KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=$ccache kinit "$user@$REALM" < "$state/passwords/$user" > /dev/null
    ;;
env)
    printf 'KRB5_CONFIG=%q\nQUILL_AD_STATE=%q\nQUILL_AD_SCRIPT=%q\n' "$state/krb5.conf" "$state" "$(readlink -f "$0")"
    ;;
*) die "unknown command $command" ;;
esac
