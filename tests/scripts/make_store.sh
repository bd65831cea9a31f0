#!/usr/bin/env bash
# Creates the personal certificate stores (NSS databases) for one test run
# and describes them in store.properties for the Java tests.
#
#   make_store.sh WORK_DIR
#
# WORK_DIR/home/.pki/nssdb (no password) holds, by name:
#   one       RSA-2048 key + certificate, serial 0x05
#   two       RSA-2048 key + certificate, serial 0x80A1B2C3 (DER content 00 80 A1 B2 C3)
#   twenty    RSA-2048 key + certificate, 20-octet serial
#   long      RSA-2048 key + certificate, 60-octet serial
#   verylong  RSA-2048 key + certificate, 120-octet serial
#   expired   RSA-2048 key + certificate that expired two years ago
#   ec        P-256 key + certificate, serial 0x0EC0
#   lone      certificate without a key, serial 0x0A0B
# WORK_DIR/home-password: a database with the password in store.properties,
#   holding "one" with its key.
# WORK_DIR/home-lifetime: a copy of home for tests that change it.
# WORK_DIR/home-empty: no database.
# WORK_DIR/home-hostile: two certificates without keys whose subject and
#   issuer carry what NSS passes through to the menu: "hostile" C1 controls
#   as single octets and in UTF-8, U+202E (right-to-left override), octets
#   that are not UTF-8, and C0 and DEL, which NSS writes as \1b and \7f;
#   "spoof" U+200B (zero width space) and U+2028 (line separator) before a
#   made-up issuer line.
# WORK_DIR/certs: NAME.pem, NAME.der and, for keys, NAME.key.der (PKCS #8);
#   also twin, in no database: the subject, issuer and serial of "one" with
#   a key of its own.
set -euo pipefail

work=${1:?work directory}
rm -rf "$work"
mkdir -p "$work/certs" "$work/home/.pki/nssdb" "$work/home-password/.pki/nssdb" "$work/home-empty" \
    "$work/home-hostile/.pki/nssdb"
work=$(cd "$work" && pwd)
certs=$work/certs
db=sql:$work/home/.pki/nssdb
password=kavro-store-secret

certutil -N -d "$db" --empty-password

# Key and self-signed certificate; PKCS #12 for pk12util, PKCS #8 for Java.
with_key() {
    local name=$1 cn=$2 serial=$3 key=${4:-rsa:2048}
    local keyopts=(-newkey "$key")
    if [ "$key" = ec ]; then keyopts=(-newkey ec -pkeyopt ec_paramgen_curve:P-256); fi
    openssl req -x509 "${keyopts[@]}" -nodes -keyout "$certs/$name.key" -out "$certs/$name.pem" \
        -subj "/CN=$cn/O=Kavro Tests" -set_serial "$serial" -days 3650 2>/dev/null
    finish "$name"
}
finish() {
    local name=$1
    openssl x509 -in "$certs/$name.pem" -outform DER -out "$certs/$name.der"
    openssl pkcs8 -topk8 -nocrypt -in "$certs/$name.key" -outform DER -out "$certs/$name.key.der"
    openssl pkcs12 -export -inkey "$certs/$name.key" -in "$certs/$name.pem" -name "$name" \
        -out "$certs/$name.p12" -passout pass:p12 2>/dev/null
    pk12util -i "$certs/$name.p12" -d "$db" -W p12 -K "" >/dev/null
}

with_key one "Store User One" 0x05
with_key two "Store User Two" 0x80A1B2C3
with_key twenty "Store User Twenty" 0x7F0102030405060708090A0B0C0D0E0F10111213
with_key long "Store User Long" "0x7F$(for i in $(seq 59); do printf '%02X' "$i"; done)"
with_key verylong "Store User Very Long" "0x7F$(for i in $(seq 119); do printf '%02X' "$i"; done)"
with_key ec "Store User EC" 0x0EC0 ec

# Expired: valid for one year, ending two years ago (keytool sets the start date).
keytool -genkeypair -keystore "$certs/expired.jks.p12" -storetype PKCS12 -storepass keytool -keypass keytool \
    -alias expired -keyalg RSA -keysize 2048 -sigalg SHA256withRSA -dname "CN=Expired Store User,O=Kavro Tests" \
    -startdate -3y -validity 365 >/dev/null 2>&1
openssl pkcs12 -in "$certs/expired.jks.p12" -passin pass:keytool -nokeys 2>/dev/null |
    openssl x509 -out "$certs/expired.pem"
openssl pkcs12 -in "$certs/expired.jks.p12" -passin pass:keytool -nocerts -nodes 2>/dev/null |
    openssl pkey -out "$certs/expired.key"
finish expired

openssl req -x509 -newkey rsa:2048 -nodes -keyout /dev/null -out "$certs/lone.pem" \
    -subj "/CN=Certificate Without Key/O=Kavro Tests" -set_serial 0x0A0B -days 3650 2>/dev/null
openssl x509 -in "$certs/lone.pem" -outform DER -out "$certs/lone.der"
certutil -A -d "$db" -n lone -t ",," -i "$certs/lone.pem"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/twin.key" -out "$certs/twin.pem" \
    -subj "/CN=Store User One/O=Kavro Tests" -set_serial 0x05 -days 3650 2>/dev/null
openssl x509 -in "$certs/twin.pem" -outform DER -out "$certs/twin.der"
openssl pkcs8 -topk8 -nocrypt -in "$certs/twin.key" -outform DER -out "$certs/twin.key.der"

cp -r "$work/home" "$work/home-lifetime"

# A database with a password, holding "one" and its key.
printf '%s\n' "$password" >"$certs/password.txt"
pdb=sql:$work/home-password/.pki/nssdb
certutil -N -d "$pdb" -f "$certs/password.txt"
pk12util -i "$certs/one.p12" -d "$pdb" -W p12 -k "$certs/password.txt" >/dev/null

# The hostile texts replace a placeholder of the same length in the DER.
openssl req -x509 -newkey rsa:2048 -nodes -keyout /dev/null -out "$certs/hostile.pem" \
    -subj "/CN=Aq1q2q3q4q5q6q7q8qB/O=Kavro Tests" -set_serial 0x0BAD -days 3650 2>/dev/null
openssl x509 -in "$certs/hostile.pem" -outform DER |
    perl -0777 -pe 's/Aq1q2q3q4q5q6q7q8qB/A\x1b[1m\x9b\xc2\x9b\xe2\x80\xae\x7fZ\xf0\x80B.../g' >"$certs/hostile.der"
hdb=sql:$work/home-hostile/.pki/nssdb
certutil -N -d "$hdb" --empty-password
certutil -A -d "$hdb" -n hostile -t ",," -i "$certs/hostile.der"
spoof=$(printf 'Mal\xe2\x80\x8blory\xe2\x80\xa8issued by CN=Bank Root CA (verified)')
openssl req -x509 -utf8 -newkey rsa:2048 -nodes -keyout /dev/null -out "$certs/spoof.pem" \
    -subj "/CN=$spoof/O=Kavro Tests" -set_serial 0x5900F -days 3650 2>/dev/null
certutil -A -d "$hdb" -n spoof -t ",," -i "$certs/spoof.pem"

{
    echo "home=$work/home"
    echo "home.password=$work/home-password"
    echo "home.lifetime=$work/home-lifetime"
    echo "home.empty=$work/home-empty"
    echo "home.hostile=$work/home-hostile"
    echo "password=$password"
    echo "certs.dir=$certs"
    echo "keyed=one two twenty long verylong expired"
    echo "all=one two twenty long verylong expired ec lone"
} >"$work/store.properties"
cat "$work/store.properties"
