#!/bin/bash
# Downloader benchmark: our six-section downloader under Wine vs aria2c and curl on one local,
# rate-capped server, and the cost of a resume after SIGKILL. Prints figures; run by hand.
# usage: bench/download_bench.sh [--size-mib N] [--rate-kib N] [--sections N]
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
PACKAGES="$PACKAGES aria2"
ensure_packages
[ -f "$BUILD/cmake/bin/dldriver.exe" ] || "$ROOT/scripts/build.sh"
cmake --build "$BUILD/cmake" --target dldriver barewininet >/dev/null
wine_start
trap wine_stop EXIT
/usr/bin/python3 "$ROOT/bench/download_bench.py" --build "$BUILD/cmake" --prefix "$WINEPREFIX" "$@"
