#!/bin/bash
# Start-to-visible-window benchmark (not part of ctest): builds, starts Wine on an X display and
# runs bench/window_bench.py.
# usage: bench/window_bench.sh [--rounds 21] [--settle 0.5]
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
"$ROOT/scripts/build.sh" >/dev/null
wine_start
trap wine_stop EXIT
VD_BUILD="$BUILD/cmake" VD_ROOT="$ROOT" /usr/bin/python3 "$ROOT/bench/window_bench.py" "$@"
