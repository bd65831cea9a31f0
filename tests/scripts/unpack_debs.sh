#!/usr/bin/env bash
# Unpacks Debian packages of another architecture into a private folder, for
# packages that cannot be installed beside their native ones (libnss3-dev,
# libsofthsm2: one architecture at a time). Each package is taken at the
# version installed natively, so headers and module match the 64-bit build
# and the runtime libraries; a package already unpacked at that version is
# not fetched again.
#
#   unpack_debs.sh ROOT ARCH PACKAGE...
set -euo pipefail

root=${1:?root folder}
arch=${2:?Debian architecture}
shift 2
mkdir -p "$root/.debs"
root=$(cd "$root" && pwd)
native=$(dpkg --print-architecture)

for package in "$@"; do
    version=$(dpkg-query -W -f='${Version}' "$package:$native" 2>/dev/null || true)
    stamp=$root/.debs/$package.$arch
    if [ -f "$stamp" ] && { [ -z "$version" ] || [ "$(cat "$stamp")" = "$version" ]; }; then
        continue
    fi
    rm -f "$root/.debs/${package}_"*"_$arch.deb"
    # The native version first; the archive's current one if it is gone.
    if ! { [ -n "$version" ] && (cd "$root/.debs" && apt-get download -q "$package:$arch=$version" >/dev/null 2>&1); }; then
        (cd "$root/.debs" && apt-get download -q "$package:$arch" >/dev/null) || {
            echo "unpack_debs.sh: cannot download $package:$arch (run 'apt-get update' as root?)" >&2
            exit 1
        }
    fi
    deb=$(ls "$root/.debs/${package}_"*"_$arch.deb")
    dpkg-deb -x "$deb" "$root"
    # The version it stands for: the native one, even when the archive's came instead.
    echo "${version:-$(dpkg-deb -f "$deb" Version)}" >"$stamp"
    echo "unpacked $(basename "$deb")"
done
