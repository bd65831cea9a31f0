#!/usr/bin/env bash
# The files of the harness's store cases, shared by the Linux run (NSS
# database) and the Wine run (CryptoAPI store filled by kavro_store_fill):
#
#   make_harness_store.sh WORK_DIR
#
# WORK_DIR as make_store.sh makes it (home/.pki/nssdb, certs/NAME.pem|der|key),
# and besides:
#   certs/NAME.pvk     the RSA keys as PRIVATEKEYBLOBs (PVK, unencrypted), for the Wine store
#   serials/NAME.bin   each certificate's serial content (DER INTEGER content octets)
#   data.txt           the data the signatures are over
#   sigs/NAME.sig      OpenSSL's SHA-1 RSA signature of data.txt, most significant octet first
#   pem-text/NAME.pem  the PEM text without its final line end
#   files/             certificate files of every shape: CRLF, byte-order mark, empty, too large,
#                      an END marker cut short, a body too short
#   signed/            empty: the harness writes the signatures the library made here
set -euo pipefail

work=${1:?work directory}
here=$(cd "$(dirname "$0")" && pwd)
"$here/make_store.sh" "$work" >/dev/null
work=$(cd "$work" && pwd)
certs=$work/certs
mkdir -p "$work/serials" "$work/sigs" "$work/pem-text" "$work/files" "$work/signed"

keyed="one two twenty long verylong expired"
all="$keyed ec lone"

printf '%s' "data verified through the personal store" >"$work/data.txt"

# The content octets of the serial INTEGER, read from the DER: Certificate
# and TBSCertificate headers, the optional [0] version, then the INTEGER.
serial_content() {
    perl -e '
        local $/; my $der = <STDIN>; my $at = 0;
        sub header {
            my $tag = ord substr($der, $at++, 1); my $length = ord substr($der, $at++, 1);
            if ($length & 0x80) { my $n = $length & 0x7f; $length = 0; $length = $length * 256 + ord substr($der, $at++, 1) for 1 .. $n; }
            return ($tag, $length);
        }
        header(); header();
        my ($tag, $length) = header();
        if ($tag == 0xA0) { $at += $length; ($tag, $length) = header(); }
        die "no serial INTEGER\n" unless $tag == 2;
        print substr($der, $at, $length);' <"$1"
}

for name in $all; do
    serial_content "$certs/$name.der" >"$work/serials/$name.bin"
    printf '%s' "$(cat "$certs/$name.pem")" >"$work/pem-text/$name.pem"
done

for name in $keyed; do
    openssl rsa -in "$certs/$name.key" -outform PVK -pvk-none -out "$certs/$name.pvk" 2>/dev/null
    openssl dgst -sha1 -sign "$certs/$name.key" -out "$work/sigs/$name.sig" "$work/data.txt"
done

files=$work/files
sed 's/$/\r/' "$certs/two.pem" >"$files/two-crlf.pem"
{ printf '\357\273\277'; cat "$certs/two.pem"; } >"$files/bom.pem"
: >"$files/empty.pem"
{ cat "$certs/two.der"; head -c $((4097 - $(stat -c %s "$certs/two.der"))) /dev/zero; } >"$files/large.der"
printf -- '-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE----\n' >"$files/noend.pem"
printf -- '-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n' >"$files/short.pem"

echo "harness store files in $work: keyed: $keyed; all: $all"
