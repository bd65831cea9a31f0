#!/usr/bin/env bash
# Sets up, runs beside and stops one real PKCS #11 module for the Java case
# table RealModuleTest, so that no token store or daemon outlives the test run.
#
#   real_module.sh setup NAME WORK MULTIARCH   make the token (and start its daemon)
#   real_module.sh stop NAME WORK              stop the daemon, put back what setup changed
#   real_module.sh run WORK COMMAND...         COMMAND with the module's environment
#
# NAME is softoken, trust, opencryptoki or tpm; MULTIARCH the folder of the
# JVM's architecture under /usr/lib, where the module kavro loads is looked
# for (the tools that fill the token use the machine's own). setup describes
# the token in WORK/module.properties: module, user.pin, store, certs.dir
# (certificates on the token, key.der the one whose key is on it), and
# env.NAME=value lines that run exports. A module that cannot be had here
# gets notrun=REASON instead: setup exits 77 (skipped) and run prints the one
# "not run" line without starting COMMAND.
set -Eeuo pipefail

readonly SKIPPED=77
readonly USER_PIN=123456
readonly SO_PIN=87654321

action=${1:?setup, stop or run}
shift

work_dir() {
    mkdir -p "$1"
    (cd "$1" && pwd)
}

if [ "$action" = run ]; then
    properties=${1:?work folder}/module.properties
    shift
    reason=$(sed -n 's/^notrun=//p' "$properties" 2>/dev/null || true)
    if [ -n "$reason" ]; then
        echo "$(sed -n 's/^name=//p' "$properties"): not run ($reason)"
        exit 0
    fi
    while IFS= read -r line; do
        export "${line#env.}"
    done < <(grep '^env\.' "$properties" || true)
    exec "$@"
fi

name=${1:?module name}
work=$(work_dir "${2:?work folder}")
properties=$work/module.properties

# --- set-up helpers ---------------------------------------------------------

not_run() {
    rm -f "$properties.new"
    printf 'name=%s\nnotrun=%s\n' "$name" "$1" >"$properties"
    echo "$name: cannot be set up: $1" >&2
    exit $SKIPPED
}

# A process that has not ended (a zombie that nobody reaped has).
alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state#Z}" = "$state" ]
}

need_file() {
    [ -e "$1" ] || not_run "$2 is not installed: no $1"
}

need_command() {
    command -v "$1" >/dev/null || not_run "$2 is not installed: no $1"
}

# A certificate for the public key in DER file $1, signed by the set-up's CA.
certificate_for() {
    local public=$1 serial=$2 subject=$3 out=$4
    openssl pkey -pubin -inform DER -in "$public" -out "$public.pem"
    openssl x509 -new -CA "$certs/ca.pem" -CAkey "$certs/ca.key" -force_pubkey "$public.pem" -subj "$subject" \
        -set_serial "$serial" -days 3650 -outform DER -out "$out" 2>/dev/null
}

make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/ca.key" -out "$certs/ca.pem" -days 3650 \
        -subj "/CN=Kavro $name CA" -set_serial 0x0A0B 2>/dev/null
    openssl x509 -in "$certs/ca.pem" -outform DER -out "$certs/ca.der"
}

# An RSA-2048 key pair made on the token by pkcs11-tool with a certificate
# for it, and the CA's certificate without a key.
fill_with_pkcs11_tool() {
    local tool=(pkcs11-tool --module "$1" --token-label "$2" --login --pin $USER_PIN)
    "${tool[@]}" --keypairgen --key-type rsa:2048 --id 01 --label key01 >/dev/null
    "${tool[@]}" --read-object --type pubkey --id 01 -o "$certs/pub.der" >/dev/null
    certificate_for "$certs/pub.der" 0x80A1B2C3 "/CN=Kavro $name User" "$certs/key.der"
    rm "$certs/pub.der" "$certs/pub.der.pem"
    "${tool[@]}" --write-object "$certs/key.der" --type cert --id 01 --label cert01 >/dev/null
    "${tool[@]}" --write-object "$certs/ca.der" --type cert --id 0a --label ca >/dev/null
}

# --- the modules ------------------------------------------------------------

# NSS's softoken over a database of its own: a key made by certutil with its
# self-signed certificate, and the CA's certificate. The user PIN is the
# database password.
setup_softoken() {
    need_command certutil libnss3-tools
    local db=$work/db
    mkdir -p "$db"
    printf '%s\n' $USER_PIN >"$work/password"
    head -c 64 /dev/urandom >"$work/noise"
    certutil -N -d "sql:$db" -f "$work/password"
    certutil -S -s "CN=Kavro softoken User" -n user -x -t u,u,u -k rsa -g 2048 -m 2047544333 \
        -d "sql:$db" -f "$work/password" -z "$work/noise" >/dev/null 2>&1
    certutil -L -n user -r -d "sql:$db" >"$certs/key.der"
    certutil -A -n ca -t C,, -a -i "$certs/ca.pem" -d "sql:$db" -f "$work/password"
    rm "$work/noise"
    echo "store=$db"
}

# p11-kit's trust module over a PEM bundle of two CA certificates: a file,
# so its token is write-protected.
setup_trust() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/other.key" -out "$certs/other.pem" -days 3650 \
        -subj "/CN=Kavro trust Other CA" -set_serial 0x00FF00FF00 2>/dev/null
    openssl x509 -in "$certs/other.pem" -outform DER -out "$certs/other.der"
    cat "$certs/ca.pem" "$certs/other.pem" >"$work/anchors.pem"
    rm "$work/other.key" "$certs/other.pem"
    echo "store=$work/anchors.pem"
}

# opencryptoki's software token (slot 3) behind the slot daemon. Its token
# store is the system's: it is saved first and put back by stop.
readonly OCK_STORE=/var/lib/opencryptoki/swtok
readonly OCK_PIDFILE=/var/run/pkcsslotd.pid
readonly OCK_SOCKET=/var/run/pkcsslotd.socket

running_slot_daemon() {
    ps -C pkcsslotd -o pid=,stat= | awk '$2 !~ /^Z/ { print $1 }'
}

setup_opencryptoki() {
    need_file /usr/sbin/pkcsslotd opencryptoki
    [ "$(id -u)" -eq 0 ] || not_run "pkcsslotd needs root"
    if [ -n "$(running_slot_daemon)" ]; then
        not_run "a pkcsslotd that these tests did not start is running"
    fi
    [ -d "$OCK_STORE" ] || not_run "no $OCK_STORE"
    tar -C "$OCK_STORE" -cpf "$work/swtok.tar" .
    ls /dev/shm >"$work/shm.before"
    /usr/sbin/pkcsslotd || not_run "pkcsslotd did not start"
    # It forks and returns before its child has written the pid file or
    # opened the socket. None ran before, so the live ones are ours: one
    # once the parent has gone.
    local pids
    for _ in $(seq 100); do
        pids=$(running_slot_daemon)
        [ "$(wc -w <<<"$pids")" -eq 1 ] && [ -S "$OCK_SOCKET" ] && break
        sleep 0.05
    done
    [ -n "$pids" ] || not_run "pkcsslotd did not stay"
    echo "$pids" >"$work/daemon.pids"
    [ -S "$OCK_SOCKET" ] || not_run "pkcsslotd opened no $OCK_SOCKET"
    local tool=(pkcs11-tool --module "$native/pkcs11/libopencryptoki.so" --slot 3)
    "${tool[@]}" --init-token --label KavroOck --so-pin $SO_PIN >/dev/null
    "${tool[@]}" --init-pin --login --login-type so --so-pin $SO_PIN --pin $USER_PIN >/dev/null
    fill_with_pkcs11_tool "$native/pkcs11/libopencryptoki.so" KavroOck
}

# The TPM 2.0 module over swtpm on a TCP port pair of its own, its token
# store in the work folder.
setup_tpm() {
    need_command swtpm swtpm
    mkdir -p "$work/state" "$work/store"
    local port started=
    for _ in 1 2 3 4 5; do
        port=$((20000 + 2 * (RANDOM % 10000)))
        if swtpm socket --tpm2 --tpmstate "dir=$work/state" --server "type=tcp,port=$port" \
            --ctrl "type=tcp,port=$((port + 1))" --flags not-need-init,startup-clear \
            --pid "file=$work/daemon.pids" --log "file=$work/swtpm.log" -d 2>"$work/swtpm.err"; then
            started=1
            break
        fi
        grep -q 'Address already in use' "$work/swtpm.err" || break
    done
    [ -n "$started" ] || not_run "swtpm did not start: $(head -1 "$work/swtpm.err")"
    # Written by the daemon once it has left its parent, which returns at once.
    for _ in $(seq 100); do
        [ -s "$work/daemon.pids" ] && break
        sleep 0.05
    done
    export TPM2_PKCS11_TCTI="swtpm:host=127.0.0.1,port=$port" TPM2_PKCS11_STORE=$work/store
    echo "env.TPM2_PKCS11_TCTI=$TPM2_PKCS11_TCTI"
    echo "env.TPM2_PKCS11_STORE=$TPM2_PKCS11_STORE"
    local module=$native/pkcs11/libtpm2_pkcs11.so
    # The module warns on stderr about its store's first use.
    pkcs11-tool --module "$module" --slot 1 --init-token --label KavroTpm --so-pin $SO_PIN >/dev/null 2>>"$work/tools.log"
    pkcs11-tool --module "$module" --token-label KavroTpm --init-pin --login --login-type so --so-pin $SO_PIN \
        --pin $USER_PIN >/dev/null 2>>"$work/tools.log"
    fill_with_pkcs11_tool "$module" KavroTpm 2>>"$work/tools.log"
}

module_file() {
    case $1 in
    softoken) echo libsoftokn3.so ;;
    trust) echo pkcs11/p11-kit-trust.so ;;
    opencryptoki) echo pkcs11/libopencryptoki.so ;;
    tpm) echo pkcs11/libtpm2_pkcs11.so ;;
    *) echo "real_module.sh: no module $1" >&2; exit 2 ;;
    esac
}

module_package() {
    case $1 in
    softoken) echo libnss3 ;;
    trust) echo p11-kit-modules ;;
    opencryptoki) echo libopencryptoki0 ;;
    tpm) echo libtpm2-pkcs11-1 ;;
    esac
}

# Ends the daemon that setup started, by the ids it recorded.
stop_daemon() {
    local pid
    [ -f "$work/daemon.pids" ] || return 0
    for pid in $(cat "$work/daemon.pids"); do
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            alive "$pid" || break
            sleep 0.1
        done
        ! alive "$pid" || kill -KILL "$pid" 2>/dev/null || true
    done
    rm -f "$work/daemon.pids"
}

stop() {
    stop_daemon
    if [ "$name" = opencryptoki ] && [ -f "$work/swtok.tar" ]; then
        find "$OCK_STORE" -mindepth 1 -delete
        tar -C "$OCK_STORE" -xpf "$work/swtok.tar"
        rm "$work/swtok.tar"
        # The daemon's shared memory and files, where it left them.
        for file in /dev/shm/var.lib.opencryptoki.*; do
            [ -e "$file" ] && ! grep -qx "$(basename "$file")" "$work/shm.before" && rm -f "$file"
        done
        rm -f "$OCK_PIDFILE" "$OCK_SOCKET"
    fi
}

case $action in
setup)
    multiarch=${3:?multiarch folder}
    # A daemon left by an interrupted run goes first.
    stop
    rm -rf "${work:?}"/*
    module=/usr/lib/$multiarch/$(module_file "$name")
    need_file "$module" "$(module_package "$name"):${multiarch%%-*}"
    native=/usr/lib/$(gcc -print-multiarch)
    need_command pkcs11-tool opensc
    certs=$work/certs
    mkdir -p "$certs"
    make_ca
    trap 'echo "real_module.sh: $name: set-up failed at: $BASH_COMMAND" >&2' ERR
    {
        echo "name=$name"
        echo "module=$module"
        echo "user.pin=$USER_PIN"
        echo "certs.dir=$certs"
        "setup_$name"
    } >"$properties.new"
    mv "$properties.new" "$properties"
    cat "$properties"
    ;;
stop)
    stop
    ;;
*)
    echo "real_module.sh: unknown action $action" >&2
    exit 2
    ;;
esac
