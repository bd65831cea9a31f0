#!/usr/bin/env bash
# Verifies with OpenSSL the signatures that SignByCSP made in the harness's
# store cases (written to WORK_DIR/signed/ least significant octet first):
# each must verify once reversed, over data.txt with its certificate's
# public key, and must not verify as it stands.
#
#   check_store_signatures.sh WORK_DIR SIGNATURE=CERTIFICATE...
#     e.g. two=two one-prefix=one: signed/two.sig against certs/two.pem
set -euo pipefail

work=${1:?work directory}
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
for pair in "$@"; do
    signature=${pair%%=*}
    certificate=${pair#*=}
    made=$work/signed/$signature.sig
    if [ ! -s "$made" ]; then
        echo "FAIL $signature: $made is missing (the harness writes it)"
        failed=1
        continue
    fi
    openssl x509 -in "$work/certs/$certificate.pem" -noout -pubkey >"$scratch/key.pem"
    perl -e 'local $/; print scalar reverse <STDIN>' <"$made" >"$scratch/reversed.sig"
    if ! openssl dgst -sha1 -verify "$scratch/key.pem" -signature "$scratch/reversed.sig" "$work/data.txt" \
        >"$scratch/out" 2>&1; then
        echo "FAIL $signature: reversed, it does not verify with the key of $certificate"
        cat "$scratch/out"
        failed=1
    elif openssl dgst -sha1 -verify "$scratch/key.pem" -signature "$made" "$work/data.txt" >/dev/null 2>&1; then
        echo "FAIL $signature: it verifies unreversed, so it is not least significant octet first"
        failed=1
    else
        echo "ok   $signature: $(stat -c %s "$made") octets, verified by OpenSSL after reversal with the key of $certificate"
    fi
done
exit $failed
