#!/usr/bin/env bash
# Creates a private SoftHSM2 token store for one test run and describes it
# in tokens.properties for the Java tests.
#
#   make_tokens.sh WORK_DIR
#
# Tokens: "KavroMain" (read-mostly: key pairs and certificates) and
# "KavroAdmin" (PIN administration), user PIN 123456, SO PIN 87654321, plus
# the free slot that SoftHSM2 always offers. Objects on KavroMain:
#   id 01  RSA-2048 key pair + certificate, serial 0x05
#   id 02  RSA-2048 key pair + certificate, serial 0x80A1B2C3 (DER content 00 80 A1 B2 C3)
#   id 03  RSA-2048 key pair + certificate with a 20-octet serial
#   id 04  certificate without a key, serial 0x0A0B
#   id 05  RSA-2048 key pair without a certificate
set -euo pipefail

work=${1:?work directory}
module=${KAVRO_SOFTHSM_MODULE:-/usr/lib/softhsm/libsofthsm2.so}
user_pin=123456
so_pin=87654321

rm -rf "$work"
mkdir -p "$work/tokens" "$work/certs"
work=$(cd "$work" && pwd)
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >"$work/softhsm2.conf"
export SOFTHSM2_CONF=$work/softhsm2.conf

softhsm2-util --init-token --free --label KavroMain --so-pin $so_pin --pin $user_pin >/dev/null
softhsm2-util --init-token --free --label KavroAdmin --so-pin $so_pin --pin $user_pin >/dev/null

tool() { pkcs11-tool --module "$module" --token-label KavroMain --login --pin $user_pin "$@" >/dev/null 2>&1; }

certs=$work/certs
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/ca.key" -out "$certs/ca.pem" -days 3650 \
    -subj "/CN=Kavro Test CA" 2>/dev/null

# Key pair on the token, and a certificate for its public key signed by the CA.
token_key_with_cert() {
    local id=$1 serial=$2 cn=$3
    tool --keypairgen --key-type rsa:2048 --id "$id" --label "key$id"
    tool --read-object --type pubkey --id "$id" -o "$certs/pub$id.der"
    openssl pkey -pubin -inform DER -in "$certs/pub$id.der" -out "$certs/pub$id.pem"
    openssl x509 -new -CA "$certs/ca.pem" -CAkey "$certs/ca.key" -force_pubkey "$certs/pub$id.pem" \
        -subj "/CN=$cn" -set_serial "$serial" -days 3650 -outform DER -out "$certs/cert$id.der" 2>/dev/null
    tool --write-object "$certs/cert$id.der" --type cert --id "$id" --label "cert$id"
}

token_key_with_cert 01 0x05 "Token User One"
token_key_with_cert 02 0x80A1B2C3 "Token User Two"
token_key_with_cert 03 0x7F0102030405060708090A0B0C0D0E0F10111213 "Token User Three"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/lone.key" -outform DER -out "$certs/cert04.der" \
    -subj "/CN=Certificate Without Key" -set_serial 0x0A0B -days 3650 2>/dev/null
tool --write-object "$certs/cert04.der" --type cert --id 04 --label cert04

tool --keypairgen --key-type rsa:2048 --id 05 --label key05

# Slot ids and serials as kavro sees them (the bridge keeps the module's own).
slots=$(softhsm2-util --show-slots)
slot_of() {
    awk -v label="$1" '/^Slot [0-9]+/ { slot = $2 } /Label:/ { if ($2 == label) print slot }' <<<"$slots"
}
serial_of() {
    awk -v label="$1" '/Serial number:/ { serial = $3 } /Label:/ { if ($2 == label) print serial }' <<<"$slots"
}
free_slot=$(awk '/^Slot [0-9]+/ { slot = $2 } /Initialized:/ { if ($2 == "no") print slot }' <<<"$slots" | head -1)

{
    echo "softhsm.conf=$work/softhsm2.conf"
    echo "softhsm.module=$module"
    echo "user.pin=$user_pin"
    echo "so.pin=$so_pin"
    echo "main.slot=$(slot_of KavroMain)"
    echo "main.serial=$(serial_of KavroMain)"
    echo "admin.slot=$(slot_of KavroAdmin)"
    echo "admin.serial=$(serial_of KavroAdmin)"
    echo "free.slot=$free_slot"
    echo "certs.dir=$certs"
} >"$work/tokens.properties"
cat "$work/tokens.properties"
