#!/bin/bash
# Builds the product's setup packages for tests and the demo: stand-in programs (Vardo.exe as
# 32- and 64-bit PE files with a version resource, Launcher.exe, Helper.exe) packed by makensis.
#
#   tests/product/build_product.sh [VERSION [OUTDIR]]
#
# VERSION is Vardo.exe's four-part file version (default 3.2.1.0); OUTDIR defaults to
# build/product. Outputs, stable names:
#   OUTDIR/VardoSetup.exe          installs a 32-bit Vardo.exe
#   OUTDIR/VardoSetup_x64.exe      installs a 64-bit Vardo.exe
#   OUTDIR/VardoSetup_novardo.exe  installs everything but Vardo.exe
#   OUTDIR/VardoSetup_fail2.exe    installs nothing and exits with code 2
#   OUTDIR/VardoSetup_exit1.exe    installs like VardoSetup.exe, then exits with code 1
#   OUTDIR/VardoSetup_hang.exe     waits 20 s, then installs like VardoSetup.exe
#   OUTDIR/VardoSetup_signed.exe   VardoSetup.exe signed by the test publisher (OUTDIR/certs)
#   OUTDIR/VardoSetup_twin.exe     signed by another certificate with the publisher's name
#   OUTDIR/VardoSetup_other.exe    signed by an unrelated publisher
#   OUTDIR/bin/                    the stand-ins themselves (Vardo32.exe, Vardo64.exe, ...)
#   OUTDIR/version.txt             the version they carry
# A second run with the same inputs does nothing.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
VERSION="${1:-3.2.1.0}"
OUT="${2:-$ROOT/build/product}"

if ! [[ "$VERSION" =~ ^[0-9]{1,5}\.[0-9]{1,5}\.[0-9]{1,5}\.[0-9]{1,5}$ ]]; then
    echo "build_product: version must be four numbers, e.g. 3.2.1.0 (got '$VERSION')" >&2
    exit 2
fi
for tool in makensis osslsigncode openssl i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix i686-w64-mingw32-windres \
            x86_64-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || { echo "build_product: $tool is missing" >&2; exit 2; }
done

KEY="$(cat "$HERE/standin.cpp" "$HERE/standin.rc" "$HERE/vardo.nsi" "$HERE/build_product.sh" "$HERE/make_certs.sh" "$ROOT/scripts/sign.sh" | sha256sum | cut -c1-16)-$VERSION"
OUTPUTS=("$OUT/VardoSetup.exe" "$OUT/VardoSetup_x64.exe" "$OUT/VardoSetup_novardo.exe" "$OUT/VardoSetup_fail2.exe"
         "$OUT/VardoSetup_exit1.exe"
         "$OUT/VardoSetup_hang.exe" "$OUT/VardoSetup_signed.exe" "$OUT/VardoSetup_twin.exe" "$OUT/VardoSetup_other.exe")
if [ -f "$OUT/.stamp" ] && [ "$(cat "$OUT/.stamp")" = "$KEY" ]; then
    all=1
    for f in "${OUTPUTS[@]}"; do [ -f "$f" ] || all=0; done
    if [ "$all" = 1 ]; then echo "== product packages up to date ($VERSION)"; exit 0; fi
fi

echo "== building product packages, Vardo.exe $VERSION"
WORK="$OUT/work"
rm -rf "$WORK" "$OUT/bin"
mkdir -p "$WORK" "$OUT/bin"
IFS=. read -r V1 V2 V3 V4 <<<"$VERSION"

# windres hands the defines to the preprocessor; the quoted ones must stay quoted
build_one() {  # arch-prefix output-name stand-in-name
    local cc="$1" out="$2" name="$3"
    "$cc-windres" -DVD_V1="$V1" -DVD_V2="$V2" -DVD_V3="$V3" -DVD_V4="$V4" \
        -DVD_VERSION_TEXT="\\\"$VERSION\\\"" -DSTANDIN_NAME="\\\"$name\\\"" \
        -i "$HERE/standin.rc" -o "$WORK/$out.res.o"
    "$cc-g++-posix" -std=c++17 -Os -municode -mwindows -static -s -DUNICODE -D_UNICODE \
        "$HERE/standin.cpp" "$WORK/$out.res.o" -o "$OUT/bin/$out"
}
build_one i686-w64-mingw32 Vardo32.exe Vardo.exe
build_one x86_64-w64-mingw32 Vardo64.exe Vardo.exe
build_one i686-w64-mingw32 Launcher.exe Launcher.exe
build_one i686-w64-mingw32 Helper.exe Helper.exe

nsis() {  # output extra-defines...
    local out="$1"; shift
    makensis -V2 -INPUTCHARSET UTF8 -DOUTFILE="$WORK/$(basename "$out")" -DBINDIR="$OUT/bin" -DVERSION="$VERSION" "$@" \
        "$HERE/vardo.nsi" >"$WORK/$(basename "$out").log" 2>&1 || { cat "$WORK/$(basename "$out").log" >&2; exit 1; }
    mv -f "$WORK/$(basename "$out")" "$out"
}
nsis "$OUT/VardoSetup.exe" -DVARDO_EXE="$OUT/bin/Vardo32.exe" -DX64=0
nsis "$OUT/VardoSetup_x64.exe" -DVARDO_EXE="$OUT/bin/Vardo64.exe" -DX64=1
nsis "$OUT/VardoSetup_novardo.exe" -DX64=0
nsis "$OUT/VardoSetup_fail2.exe" -DVARDO_EXE="$OUT/bin/Vardo32.exe" -DX64=0 -DFAIL_CODE=2
nsis "$OUT/VardoSetup_exit1.exe" -DVARDO_EXE="$OUT/bin/Vardo32.exe" -DX64=0 -DEXIT_CODE=1
nsis "$OUT/VardoSetup_hang.exe" -DVARDO_EXE="$OUT/bin/Vardo32.exe" -DX64=0 -DHANG_MS=20000
"$HERE/make_certs.sh" "$OUT/certs"
for who in signer twin other; do
    name=$who; [ "$who" = signer ] && name=signed
    "$ROOT/scripts/sign.sh" -in "$OUT/VardoSetup.exe" -out "$OUT/VardoSetup_$name.exe" -cert "$OUT/certs/$who.crt" \
        -key "$OUT/certs/$who.key" -CAfile "$OUT/certs/ca.crt" -n "Vardo" >/dev/null
done
echo "$VERSION" >"$OUT/version.txt"
echo "$KEY" >"$OUT/.stamp"
rm -rf "$WORK"
ls -l "${OUTPUTS[@]}"
