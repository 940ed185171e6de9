#!/bin/bash
# A throw-away Samba Active Directory domain controller on 127.0.0.3 (QUILL_DC_IP, for a second
# controller beside the first) for the ad suite and the
# LDAP benchmarks. It never touches the host's /etc: samba runs in a private mount namespace with
# its own /run/samba, clients get KRB5_CONFIG and a resolv.conf that are bind-mounted by the caller.
#
#   samba-dc.sh prepare STATE [big|pair|enterprise] provision once and keep a pristine copy (big:
#                                     +USERS users, default 10,000; each count has its own copy;
#                                     pair: the base domain with a second controller dc2 on
#                                     QUILL_DC2_IP, default 127.0.0.4, which holds the PDC role and
#                                     replicates nothing out; enterprise: the pair as the head office
#                                     site HeadOffice, where every variant's dc1 is, subnet
#                                     127.0.0.0/29, and a branch site Branch, subnet 127.0.0.8/29,
#                                     with a read-only controller rodc on QUILL_RODC_IP, 127.0.0.10)
#   samba-dc.sh start STATE [big|pair|enterprise|keep] restore the pristine copy (keep: reuse the
#                                     data) and start (pair, enterprise: every controller)
#   samba-dc.sh stop STATE            SIGTERM, then SIGKILL after 10 s (every controller)
#   samba-dc.sh client STATE head|branch|nowhere  where this network namespace's clients are:
#                                     their connections come from 127.0.0.2 (head office), 127.0.0.9
#                                     (branch) or 127.0.0.20 (no subnet), the address the netlogon
#                                     ping and the subnets see
#   samba-dc.sh replicate STATE       the read-only controller pulls the domain from dc1 now
#   samba-dc.sh kill STATE            SIGKILL at once, as a crash would
#   samba-dc.sh kinit STATE USER CCACHE   a ticket for USER, password from STATE/passwords on stdin
#   samba-dc.sh env STATE             the variables a client needs, as shell assignments
#
# STATE must be an absolute path; a provisioned database only works at the path it was made in.
set -euo pipefail

readonly REALM=QUILL.TEST DOMAIN=QUILL DNSDOMAIN=quill.test DCHOST=dc1 DCIP=${QUILL_DC_IP:-127.0.0.3}
readonly DC2IP=${QUILL_DC2_IP:-127.0.0.4} RODCIP=${QUILL_RODC_IP:-127.0.0.10}
# Where the enterprise's clients are: a connection to a 127.0.0.x address comes from the source
# address of the loopback's local route, normally 127.0.0.1, which Samba's subnet match counts as
# inside every subnet (so the netlogon ping names whichever site it finds first).
readonly HEADNET=127.0.0.0/29 HEADCLIENT=127.0.0.2 BRANCHNET=127.0.0.8/29 BRANCHCLIENT=127.0.0.9
readonly BASEDN=DC=quill,DC=test
# Extra users in the big variant (benchmarks).
readonly USERS=${USERS:-10000}
# Bump when what prepare produces changes, so cached copies are rebuilt.
readonly LAYOUT=6

die() { echo "samba-dc: $*" >&2; exit 1; }
[[ $USERS =~ ^[0-9]+$ && $USERS -le 99999 ]] || die "USERS must be a number up to 99999"

command=${1:-}
state=${2:-}
[[ -n $command && -n $state ]] || die "usage: $0 prepare|start|stop|kill|client|replicate|kinit|env STATE ..."
[[ $state == /* ]] || die "STATE must be an absolute path"
dc=$state/dc
dc2=$state/dc2
rodc=$state/rodc

# krb5.conf for clients; an argument names the KDCs instead of the first controller alone.
krb5_conf() {
    local kdcs=${1:-$DCIP} kdc
    cat <<KRB
[libdefaults]
	default_realm = $REALM
	dns_lookup_realm = false
	dns_lookup_kdc = false
	rdns = false
	dns_canonicalize_hostname = false
	udp_preference_limit = 1
[realms]
$REALM = {
KRB
    for kdc in $kdcs; do printf '\tkdc = %s\n' "$kdc"; done
    cat <<KRB
	admin_server = $DCIP
	kpasswd_server = $DCIP
	default_domain = $DNSDOMAIN
}
[domain_realm]
	.$DNSDOMAIN = $REALM
	$DNSDOMAIN = $REALM
KRB
}

write_client_files() {
    mkdir -p "$state"
    krb5_conf > "$state/krb5.conf"
    printf 'search %s\nnameserver %s\noptions timeout:1 attempts:2\n' "$DNSDOMAIN" "$DCIP" > "$state/resolv.conf"
    if [[ -d $dc2 ]]; then
        # Either controller's KDC, and one that reaches only the second (a lockout made there).
        krb5_conf "$DCIP $DC2IP" > "$state/krb5.conf"
        krb5_conf "$DC2IP" > "$state/krb5.dc2.conf"
    fi
    # What the controllers themselves see: each other by name without DNS, and a resolver that
    # names the other controller with a short wait (one that names itself freezes a -M single DC).
    printf '127.0.0.1 localhost\n%s dc1.%s dc1\n%s dc2.%s dc2\n%s rodc.%s rodc\n' "$DCIP" "$DNSDOMAIN" "$DC2IP" \
        "$DNSDOMAIN" "$RODCIP" "$DNSDOMAIN" > "$state/dc-hosts"
    printf 'nameserver %s\noptions timeout:1 attempts:1\n' "$DC2IP" > "$state/dc1-resolv.conf"
    printf 'nameserver %s\noptions timeout:1 attempts:1\n' "$DCIP" > "$state/dc2-resolv.conf"
    krb5_conf "$DCIP $DC2IP" > "$state/dc-krb5.conf"
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
    rm -rf "$dc" "$dc2"
    write_client_files
    mkdir -p "$dc/run" "$dc/ncalrpc" "$dc/ntp_signd"
    chmod 0750 "$dc/ntp_signd"
    : > "$state/empty.conf"
    # The random administrator password it logs is replaced below; the log is not kept.
    samba-tool domain provision -s "$state/empty.conf" --targetdir="$dc" --realm=$REALM --domain=$DOMAIN \
        --server-role=dc --dns-backend=SAMBA_INTERNAL --host-name=$DCHOST --host-ip=$DCIP \
        --site=HeadOffice --option="interfaces = $DCIP/8" --option="bind interfaces only = yes" \
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
    tar -C "$state" --warning=no-file-ignored -cf "$(pristine "$variant")" dc
}

pid_of() { [[ -f $1/run/samba.pid ]] && cat "$1/run/samba.pid" || true; }

alive() { local pid; pid=$(pid_of "$1"); [[ -n $pid ]] && kill -0 "$pid" 2> /dev/null; }

# stop_one DIR [SIGNAL]
stop_one() {
    local dir=$1 signal=${2:-TERM} pid i
    pid=$(pid_of "$dir")
    [[ -n $pid ]] || return 0
    kill -"$signal" "$pid" 2> /dev/null || true
    for i in $(seq 100); do
        kill -0 "$pid" 2> /dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2> /dev/null || true
    rm -f "$dir/run/samba.pid"
}

# Every controller at once: each takes a second or two to go.
stop_dc() {
    local dir stopping=()
    for dir in "$dc" "$dc2" "$rodc"; do
        stop_one "$dir" "${1:-TERM}" &
        stopping+=($!)
    done
    wait "${stopping[@]}"
}

# Only what the clients use, and what two controllers need to replicate; no forwarding out of the
# loopback.
replicating_services() {
    sed -i -e '/dns forwarder/d' -e '/server services/d' -e '/dcerpc endpoint servers/d' \
        -e 's/^\[global\]/[global]\n\tserver services = ldap cldap kdc dns rpc drepl kcc dnsupdate/' "$1/etc/smb.conf"
}

# run_dc DIR IP RESOLV.CONF: starts samba in a mount namespace with its own /run/samba, resolver
# and hosts file, and waits for its LDAP and Kerberos ports.
run_dc() {
    local dir=$1 ip=$2 resolv=$3 i
    mkdir -p "$dir/run-samba"
    KRB5_CONFIG=$state/dc-krb5.conf unshare -m --propagation private sh -c \
        'if [ ! -d /run/samba ]; then mount -t tmpfs -o mode=0755 quill-run /run && mkdir /run/samba; fi
         mount --bind "$1" /run/samba && mount --bind "$3" /etc/resolv.conf && mount --bind "$4" /etc/hosts &&
         exec samba -F -M single -s "$2" --debug-stdout' sh \
        "$dir/run-samba" "$dir/etc/smb.conf" "$resolv" "$state/dc-hosts" > "$dir.log" 2>&1 < /dev/null &
    for i in $(seq 150); do
        if alive "$dir" && (exec 3<> /dev/tcp/$ip/389) 2> /dev/null && (exec 3<> /dev/tcp/$ip/88) 2> /dev/null; then
            return 0
        fi
        sleep 0.1
    done
    tail -20 "$dir.log" >&2
    die "the domain controller in $dir did not start"
}

# as_client COMMAND...: runs a command that sees the controllers by name, as the second one does.
as_client() {
    KRB5_CONFIG=$state/dc-krb5.conf unshare -m --propagation private sh -c \
        'mount --bind "$1" /etc/resolv.conf && mount --bind "$2" /etc/hosts && shift 2 && exec "$@"' sh \
        "$state/dc2-resolv.conf" "$state/dc-hosts" "$@"
}

# The administrator's ticket for the commands below (in $auth), never a password on a command line.
admin_ticket() {
    local ccache=FILE:$state/cc.join
    KRB5_CONFIG=$state/dc-krb5.conf KRB5CCNAME=$ccache kinit "Administrator@$REALM" \
        < "$state/passwords/Administrator" > /dev/null
    auth="--use-kerberos=required --use-krb5-ccache=$ccache"
}

# join_dc DIR DC|RODC NAME IP [OPTION...]: joins another controller to the first, into DIR.
join_dc() {
    local dir=$1 role=$2 name=$3 ip=$4
    mkdir -p "$dir/run" "$dir/ncalrpc" "$dir/ntp_signd"
    chmod 0750 "$dir/ntp_signd"
    as_client samba-tool domain join $DNSDOMAIN "$role" -s "$state/empty.conf" $auth --server=dc1.$DNSDOMAIN \
        --targetdir="$dir" --dns-backend=SAMBA_INTERNAL --option="netbios name = $name" \
        --option="interfaces = $ip/8" --option="bind interfaces only = yes" \
        --option="pid directory = $dir/run" --option="ncalrpc dir = $dir/ncalrpc" \
        --option="ntp signd socket directory = $dir/ntp_signd" "${@:5}" > "$state/join.log" 2>&1 \
        || { tail -20 "$state/join.log" >&2; die "joining $name failed"; }
    replicating_services "$dir"
}

# The LDAP service names a controller adds for itself at its first start, as an LDIF for the first.
spn_ldif() {
    local host=${1,,}
    printf 'dn: CN=%s,OU=Domain Controllers,%s\nchangetype: modify\nadd: servicePrincipalName\n%s-\n' "$1" "$BASEDN" \
        "$(printf 'servicePrincipalName: %s\n' ldap/$host.$DNSDOMAIN ldap/$1 ldap/$host.$DNSDOMAIN/$DOMAIN \
            ldap/$host.$DNSDOMAIN/$DNSDOMAIN)"
}

# dns_add "ZONE NAME TYPE DATA"...: records added at the first controller, the clients' name server.
dns_add() {
    local record zone name type data
    for record; do
        read -r zone name type data <<< "$record"
        as_client samba-tool dns add dc1.$DNSDOMAIN "$zone" "$name" "$type" "$data" -s "$state/empty.conf" $auth \
            > "$state/dns.log" 2>&1 || { tail -5 "$state/dns.log" >&2; die "adding $name to DNS failed"; }
    done
}

# The base domain joined by a second controller that holds the PDC role and replicates nothing
# out, so that a lockout made there stays there.
provision_pair() {
    [[ -f $(pristine pair) ]] && return 0
    provision base
    stop_dc
    rm -rf "$dc" "$dc2" "$rodc"
    tar -C "$state" -xf "$(pristine base)"
    replicating_services "$dc"
    trap stop_dc EXIT
    write_client_files
    run_dc "$dc" "$DCIP" "$state/dc1-resolv.conf"
    admin_ticket
    join_dc "$dc2" DC DC2 "$DC2IP"
    # The second's own service names would reach the first only by replication, which it will not do.
    stop_one "$dc"
    spn_ldif DC2 | ldbmodify -H "$dc/private/sam.ldb" > /dev/null \
        || die "adding the second controller's service names failed"
    run_dc "$dc" "$DCIP" "$state/dc1-resolv.conf"
    run_dc "$dc2" "$DC2IP" "$state/dc2-resolv.conf"
    # What the second registers itself would stay with it, since it replicates nothing out.
    dns_add "$DNSDOMAIN dc2 A $DC2IP" "$DNSDOMAIN _ldap._tcp SRV dc2.$DNSDOMAIN 389 0 100" \
        "_msdcs.$DNSDOMAIN _ldap._tcp.dc SRV dc2.$DNSDOMAIN 389 0 100" \
        "$DNSDOMAIN _kerberos._tcp SRV dc2.$DNSDOMAIN 88 0 100"
    as_client samba-tool fsmo transfer --role=pdc -H ldap://dc2.$DNSDOMAIN -s "$state/empty.conf" $auth \
        > "$state/fsmo.log" 2>&1 || { tail -20 "$state/fsmo.log" >&2; die "moving the PDC role failed"; }
    as_client samba-tool drs options dc2.$DNSDOMAIN --dsa-option=+DISABLE_OUTBOUND_REPL -s "$state/empty.conf" \
        $auth > "$state/drs.log" 2>&1 || { tail -20 "$state/drs.log" >&2; die "stopping outbound replication failed"; }
    rm -f "$state/cc.join"
    stop_dc
    trap - EXIT
    tar -C "$state" --warning=no-file-ignored -cf "$(pristine pair)" dc dc2
}

# The pair as the head office, and a branch office with a read-only controller that replicates
# from the first. Samba takes the first subnet that holds a client's address, not the longest, so
# the subnets do not overlap. The site records go to the clients' name server by hand, since
# samba_dnsupdate skips loopback addresses; a read-only controller has no domain-wide records.
provision_enterprise() {
    [[ -f $(pristine enterprise) ]] && return 0
    provision_pair
    trap stop_dc EXIT
    start_dc pair
    admin_ticket
    local sites=CN=Sites,CN=Configuration,$BASEDN nc
    as_client samba-tool sites create Branch -H ldap://dc1.$DNSDOMAIN -s "$state/empty.conf" $auth \
        > "$state/sites.log" 2>&1 || { tail -5 "$state/sites.log" >&2; die "creating the branch site failed"; }
    printf 'dn: CN=%s,CN=Subnets,%s\nchangetype: add\nobjectClass: subnet\nsiteObject: CN=%s,%s\n\n' \
        "$HEADNET" "$sites" HeadOffice "$sites" "$BRANCHNET" "$sites" Branch "$sites" > "$state/sites.ldif"
    printf 'dn: CN=DEFAULTIPSITELINK,CN=IP,CN=Inter-Site Transports,%s\nchangetype: modify\nadd: siteList\n%s\n-\n' \
        "$sites" "siteList: CN=Branch,$sites" >> "$state/sites.ldif"
    as_client ldbmodify -H ldap://dc1.$DNSDOMAIN $auth "$state/sites.ldif" > "$state/sites.log" 2>&1 \
        || { tail -5 "$state/sites.log" >&2; die "adding the subnets failed"; }
    join_dc "$rodc" RODC RODC "$RODCIP" --site=Branch
    # It pulls only when told (samba-dc.sh replicate), as between sites it would only hours later.
    sed -i 's/^\[global\]/[global]\n\tdreplsrv:periodic_interval = 86400/' "$rodc/etc/smb.conf"
    # Started once, so the copy holds what a first start makes (TLS keys take seconds).
    run_dc "$rodc" "$RODCIP" "$state/dc2-resolv.conf"
    spn_ldif RODC | as_client ldbmodify -H ldap://dc1.$DNSDOMAIN $auth > "$state/sites.log" 2>&1 \
        || { tail -5 "$state/sites.log" >&2; die "adding the read-only controller's service names failed"; }
    dns_add "$DNSDOMAIN rodc A $RODCIP" "_msdcs.$DNSDOMAIN _ldap._tcp.Branch._sites.dc SRV rodc.$DNSDOMAIN 389 0 100" \
        "$DNSDOMAIN _ldap._tcp.Branch._sites SRV rodc.$DNSDOMAIN 389 0 100" \
        "_msdcs.$DNSDOMAIN _ldap._tcp.HeadOffice._sites.dc SRV dc2.$DNSDOMAIN 389 0 100" \
        "$DNSDOMAIN _ldap._tcp.HeadOffice._sites SRV dc2.$DNSDOMAIN 389 0 100"
    # The PDC emulator learns the sites and the new controller's names now, not minutes later.
    for nc in "CN=Configuration,$BASEDN" "$BASEDN"; do
        as_client samba-tool drs replicate dc2.$DNSDOMAIN dc1.$DNSDOMAIN "$nc" -s "$state/empty.conf" $auth \
            > "$state/drs.log" 2>&1 || { tail -5 "$state/drs.log" >&2; die "replicating $nc to dc2 failed"; }
    done
    rm -f "$state/cc.join"
    stop_dc
    trap - EXIT
    tar -C "$state" --warning=no-file-ignored -cf "$(pristine enterprise)" dc dc2 rodc
}

start_dc() {
    local mode=$1
    if [[ $mode == keep ]]; then
        stop_one "$dc"
    else
        stop_dc
        prepare "$mode"
        rm -rf "$dc" "$dc2" "$rodc"
        tar -C "$state" -xf "$(pristine "$mode")"
    fi
    write_client_files
    run_dc "$dc" "$DCIP" "$state/dc1-resolv.conf"
    if [[ $mode == pair || $mode == enterprise ]]; then
        run_dc "$dc2" "$DC2IP" "$state/dc2-resolv.conf"
    fi
    [[ $mode != enterprise ]] || run_dc "$rodc" "$RODCIP" "$state/dc2-resolv.conf"
}

prepare() {
    case $1 in
    pair) provision_pair ;;
    enterprise) provision_enterprise ;;
    *) provision "$1" ;;
    esac
}

case $command in
prepare) prepare "${3:-base}" ;;
start) start_dc "${3:-base}" ;;
stop) stop_dc TERM ;;
kill) stop_one "$dc" KILL ;;
client)
    # The kernel takes a local route's source address for every connection in the namespace, so
    # only one with the loopback alone, as the suites make, is changed.
    links=$(ip -o link show) || die "ip failed"
    [[ -n $links && -z $(awk -F': ' '$2 != "lo"' <<< "$links") ]] || die "client needs a network namespace of its own"
    case ${3:-} in
    head) source=$HEADCLIENT ;;
    branch) source=$BRANCHCLIENT ;;
    nowhere) source=127.0.0.20 ;;
    *) die "usage: $0 client STATE head|branch|nowhere" ;;
    esac
    ip route replace local 127.0.0.0/8 dev lo table local src "$source"
    ;;
replicate)
    admin_ticket
    as_client samba-tool drs replicate rodc.$DNSDOMAIN dc1.$DNSDOMAIN "$BASEDN" -s "$state/empty.conf" $auth \
        > "$state/drs.log" 2>&1 || { tail -5 "$state/drs.log" >&2; die "replicating to rodc failed"; }
    ;;
kinit)
    user=${3:?user} ccache=${4:?ccache}
    KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=$ccache kinit "$user@$REALM" < "$state/passwords/$user" > /dev/null
    ;;
env)
    printf 'KRB5_CONFIG=%q\nQUILL_AD_STATE=%q\nQUILL_AD_SCRIPT=%q\n' "$state/krb5.conf" "$state" "$(readlink -f "$0")"
    ;;
*) die "unknown command $command" ;;
esac
