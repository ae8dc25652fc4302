#!/bin/bash
# Signs a built or stamped executable (Authenticode, SHA-256) and verifies the result.
#
#   scripts/sign.sh -in FILE -out FILE (-cert CERT.pem -key KEY.pem | -pkcs12 FILE.p12 [-pass PASSWORD])
#                   [-t TIMESTAMP_URL] [-CAfile CA.pem] [-n DESCRIPTION]
#
# Stamp first (vdstamp.exe), sign last: rewriting resources drops a signature.
# -CAfile names the roots the verification trusts (default: the system's bundle).
set -euo pipefail
usage() { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
IN="" OUT="" CERT="" KEY="" P12="" PASS="" TS="" CAFILE="/etc/ssl/certs/ca-certificates.crt" DESC=""
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
        -in) IN="$2" ;; -out) OUT="$2" ;; -cert) CERT="$2" ;; -key) KEY="$2" ;; -pkcs12) P12="$2" ;;
        -pass) PASS="$2" ;; -t) TS="$2" ;; -CAfile) CAFILE="$2" ;; -n) DESC="$2" ;;
        *) usage ;;
    esac
    shift 2
done
[ -n "$IN" ] && [ -n "$OUT" ] || usage
[ -f "$IN" ] || { echo "sign: no such file: $IN" >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 2; }
args=(sign -h sha256)
if [ -n "$P12" ]; then
    args+=(-pkcs12 "$P12")
    [ -n "$PASS" ] && args+=(-pass "$PASS")
elif [ -n "$CERT" ] && [ -n "$KEY" ]; then
    args+=(-certs "$CERT" -key "$KEY")
else
    usage
fi
[ -n "$TS" ] && args+=(-ts "$TS")
[ -n "$DESC" ] && args+=(-n "$DESC")
# sign into a temporary name: a failed run never leaves a half-signed file under OUT
tmp="$OUT.signing.$$"
trap 'rm -f "$tmp"' EXIT
osslsigncode "${args[@]}" -in "$IN" -out "$tmp" >/dev/null
if ! osslsigncode verify -CAfile "$CAFILE" -in "$tmp" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2; rm -f "$tmp.log"
    echo "sign: verification of the signed copy failed" >&2
    exit 1
fi
rm -f "$tmp.log"
mv -f "$tmp" "$OUT"
echo "signed and verified: $OUT"
