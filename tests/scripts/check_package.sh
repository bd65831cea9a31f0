#!/usr/bin/env bash
# Builds the Debian package, installs it for real (apt-get, as root or with
# password-less sudo), and runs the signing program of docs/install.md as a
# user would: against a SoftHSM2 token through the installed bridge, with
# only /usr/share/java/kavro.jar on the class path and no file of the build
# tree on any path. The signature is checked with OpenSSL. Offline Maven
# finds kavro.jar in /usr/share/maven-repo by its POM. Removing the package
# takes its files and leaves the user's bridge link, which is removed
# afterwards. Before it is installed, the RPATH and RUNPATH entries of its
# files are checked (check_runpaths.sh).
#
#   check_package.sh BUILD_DIR DOCS_DIR WORK_DIR
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
docs=$(cd "${2:?docs directory}" && pwd)
work=${3:?work directory}

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! sudo -n true 2>/dev/null; then
        echo "installing the package needs root or password-less sudo" >&2
        exit 1
    fi
    as_root=(sudo -n)
fi

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

rm -f "$build"/kavro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kavro_*.deb)
version=$(dpkg-deb -f "$deb" Version)
multiarch=$(gcc -print-multiarch)
maven_dir=/usr/share/maven-repo/brelmont/kavro
echo "package: $deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | tee "$work/contents"
for file in ./usr/lib/$multiarch/jni/libkavro.so ./usr/lib/$multiarch/jni/libkavro-nss.so \
    ./usr/lib/$multiarch/kavro/libkavro-bridge.so ./usr/lib/$multiarch/kavro/libkavro-sigpipe.so \
    ./usr/share/java/kavro.jar ./usr/share/doc/kavro/docs/install.md ./usr/share/doc/kavro/api/index.html \
    .$maven_dir/$version/kavro-$version.pom .$maven_dir/$version/kavro-$version.jar \
    .$maven_dir/debian/kavro-debian.pom .$maven_dir/debian/kavro-debian.jar; do
    grep -qx "$file" "$work/contents" || { echo "missing from the package: $file" >&2; exit 1; }
done
# No packaged file searches the current folder for libraries; the library
# searches its module folder.
dpkg-deb -x "$deb" "$work/unpacked"
"$(dirname "$0")/check_runpaths.sh" "$work/unpacked"
runpath=$(readelf -d "$work/unpacked/usr/lib/$multiarch/jni/libkavro.so" | sed -n 's/.*(RUNPATH).*: \[\(.*\)\]$/\1/p')
[ "$runpath" = '$ORIGIN/../kavro' ] || { echo "libkavro.so in the package has the RUNPATH [$runpath]" >&2; exit 1; }

# Every installed path that the Javadoc names is in the package.
named=$(grep -rhoE '/usr/share/doc/kavro/[^ <&]*[^ <&.,;:)]' "$work/unpacked/usr/share/doc/kavro/api" | sort -u)
[ -n "$named" ] || { echo "the Javadoc names no installed documentation" >&2; exit 1; }
for path in $named; do
    [ -e "$work/unpacked$path" ] || { echo "the Javadoc names $path, which the package lacks" >&2; exit 1; }
done

link=/usr/lib/$multiarch/kavro/zelcsp11.dll
cleanup() {
    "${as_root[@]}" rm -f "$link"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kavro >/dev/null 2>&1 || true
    "${as_root[@]}" rmdir "$(dirname "$link")" 2>/dev/null || true
}
trap cleanup EXIT
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; exit 1; }
echo "installed: $(dpkg-query -W -f='${Package} ${Version} ${Status}' kavro)"

# The token and the bridge, set up as docs/install.md says.
softhsm=/usr/lib/softhsm/libsofthsm2.so
home=$work/home
mkdir -p "$home/tokens" "$home/.config/kavro"
printf 'directories.tokendir = %s/tokens\n' "$home" >"$home/softhsm2.conf"
export SOFTHSM2_CONF=$home/softhsm2.conf
softhsm2-util --init-token --free --label Signer --so-pin 87654321 --pin 123456 >/dev/null
pkcs11-tool --module $softhsm --token-label Signer --login --pin 123456 \
    --keypairgen --key-type rsa:2048 --id 01 --label signer >/dev/null 2>&1
serial=$(pkcs11-tool --module $softhsm -L | grep -A8 'token label *: Signer$' | awk '/serial num/ { print $4 }')
[ -n "$serial" ] || { echo "no serial for the token Signer" >&2; exit 1; }
"${as_root[@]}" ln -sf libkavro-bridge.so "$link"
echo "zelcsp11.dll = $softhsm" >"$home/.config/kavro/bridge.conf"

# The program as the page has it.
awk '/^```java$/ { block = ""; inside = 1; next }
     /^```$/ && inside { if (block ~ /class SignWithToken/) printf "%s", block; inside = 0; next }
     inside { block = block $0 "\n" }' "$docs/install.md" >"$work/SignWithToken.java"
grep -q 'class SignWithToken' "$work/SignWithToken.java" || { echo "no SignWithToken in docs/install.md" >&2; exit 1; }

cd "$work"
echo 'hello, token' >hello.txt
env -i PATH=/usr/bin:/bin HOME="$home" SOFTHSM2_CONF="$SOFTHSM2_CONF" \
    java -cp /usr/share/java/kavro.jar SignWithToken.java "$serial" 123456 hello.txt hello.sig
pkcs11-tool --module $softhsm --token-label Signer --read-object --type pubkey --id 01 -o pub.der >/dev/null 2>&1
openssl pkey -pubin -inform DER -in pub.der -out pub.pem
openssl dgst -sha1 -verify pub.pem -signature hello.sig hello.txt

# Offline Maven resolves brelmont:kavro, POM and jar, under both versions
# from /usr/share/maven-repo, and writes nothing there. Maven resolves a core
# extension without any plugin, so Maven alone is needed.
touch "$work/before-maven"
for v in "$version" debian; do
    [ "$(readlink -f "$maven_dir/$v/kavro-$v.jar")" = /usr/share/java/kavro.jar ] ||
        { echo "$maven_dir/$v/kavro-$v.jar is not a link to /usr/share/java/kavro.jar" >&2; exit 1; }
    project=$work/maven-$v
    mkdir -p "$project/.mvn"
    printf '<project xmlns="http://maven.apache.org/POM/4.0.0"><modelVersion>4.0.0</modelVersion>%s</project>\n' \
        '<groupId>example</groupId><artifactId>uses-kavro</artifactId><version>1</version><packaging>pom</packaging>' \
        >"$project/pom.xml"
    printf '<extensions><extension><groupId>brelmont</groupId><artifactId>kavro</artifactId><version>%s</version></extension></extensions>\n' \
        "$v" >"$project/.mvn/extensions.xml"
    (cd "$project" && env -i PATH=/usr/bin:/bin HOME="$home" mvn -o -B -X -Dmaven.repo.local=/usr/share/maven-repo validate) \
        >"$project/mvn.log" 2>&1 || { tail -20 "$project/mvn.log" >&2; exit 1; }
    grep -qx "\[DEBUG\]   Included $maven_dir/$v/kavro-$v.jar" "$project/mvn.log" &&
        ! grep -q 'WARNING.*brelmont:kavro' "$project/mvn.log" ||
        { echo "Maven did not take kavro-$v.jar by its POM (see $project/mvn.log)" >&2; exit 1; }
done
written=$(find /usr/share/maven-repo -newer "$work/before-maven")
[ -z "$written" ] || { echo "Maven wrote into /usr/share/maven-repo: $written" >&2; exit 1; }
echo "Maven (offline) resolves brelmont:kavro:$version and brelmont:kavro:debian"

# Removing the package takes all its files, and leaves the bridge link the
# user made, as docs/install.md says.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kavro >"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log" >&2; exit 1; }
for gone in /usr/share/maven-repo/brelmont /usr/share/java/kavro.jar /usr/lib/$multiarch/kavro/libkavro-bridge.so; do
    [ ! -e "$gone" ] || { echo "apt-get remove left $gone" >&2; exit 1; }
done
[ -L "$link" ] || { echo "apt-get remove took the user's $link" >&2; exit 1; }
# No conffile keeps the package known to dpkg: remove leaves what purge would.
if dpkg-query -W kavro >/dev/null 2>&1; then
    echo "kavro is still known to dpkg after apt-get remove: $(dpkg-query -W -f='${Status}' kavro)" >&2
    exit 1
fi
echo "removed; the user's $link is left"
