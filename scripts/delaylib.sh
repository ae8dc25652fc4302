#!/bin/bash
# Makes a delay-load import library for one DLL from MinGW's ordinary import library, so the
# executable names the DLL in its delay-import table instead of its load-time imports.
#
#   scripts/delaylib.sh DLLTOOL NM OBJCOPY IMPORT_LIB DLL_NAME OUTPUT
set -euo pipefail
DLLTOOL="$1" NM="$2" OBJCOPY="$3" LIB="$4" DLL="$5" OUT="$6"
def="$OUT.def"
{
    echo "LIBRARY $DLL"
    echo "EXPORTS"
    # every __imp__Name@N the import library offers; -k strips the @N from the name looked up at run time
    "$NM" -g "$LIB" | awk '$2 == "I" && $3 ~ /^__imp__/ { sub(/^__imp__/, "", $3); print $3 }' | sort -u
} >"$def"
"$DLLTOOL" -k -d "$def" -D "$DLL" --output-delaylib "$OUT.raw"
# binutils 2.40 files the delay tables under .idata$N: ld then takes the members for ordinary
# imports and drops the thunk that the delay IAT points at when only __imp_ is referenced (the
# slot stays 0). Under names of their own they are plain data and every thunk stays.
rename=()
for n in 2 4 5 6 7; do rename+=(--rename-section ".idata\$$n=.didat\$$n,alloc,load,data,contents"); done
"$OBJCOPY" "${rename[@]}" "$OUT.raw" "$OUT"
rm -f "$OUT.raw"
