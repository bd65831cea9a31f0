#!/usr/bin/env bash
# Runs a command while the Wine prefix's personal store "MY" holds other
# certificates than the test run's, and puts the run's back afterwards.
#
#   wine-store-swap.sh FILL CERT_DIR "NAMES DURING" "NAMES AFTER" -- COMMAND [ARGS...]
#
# FILL is kavro_store_fill.exe, run through wine-run.sh (WINEPREFIX and
# KAVRO_WINE* as for it). Used for the dialog choice cases: the dialog lists
# the store in the order of the certificates' hashes, so the row that Return
# takes is known only when the store holds one certificate.
set -uo pipefail

fill=${1:?fill program}
certs=${2:?certificate folder}
during=${3:?names during}
after=${4:?names after}
shift 4
[ "${1:-}" = -- ] || { echo "usage: $0 FILL CERT_DIR DURING AFTER -- COMMAND..." >&2; exit 2; }
shift
run=$(dirname "$0")/wine-run.sh

# shellcheck disable=SC2086 # the name lists are split on purpose
"$run" run "$fill" "$certs" $during || exit 1
status=0
"$@" || status=$?
# shellcheck disable=SC2086
"$run" run "$fill" "$certs" $after || status=1
exit $status
