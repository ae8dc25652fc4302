#!/bin/bash
# The install benchmark (not part of ctest): builds, starts Wine and runs bench/install_bench.py.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
PACKAGES="$PACKAGES aria2"
ensure_packages
"$ROOT/scripts/build.sh" >/dev/null
wine_start
trap wine_stop EXIT
VD_BUILD="$BUILD/cmake" VD_ROOT="$ROOT" /usr/bin/python3 "$ROOT/bench/install_bench.py" "$@"
