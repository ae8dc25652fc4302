#!/bin/bash
# ctest's cross-compiling emulator: runs one Windows program in the project's Wine prefix.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Tests that talk HTTP run with the local servers up, http_proxy and VD_SRV_* pointing at them.
if [ "${VD_TEST_SERVERS:-}" = 1 ]; then
    exec env PYTHONPATH="$ROOT/tests" /usr/bin/python3 -m servers --build "$ROOT/build/cmake" --timeout 280 --tls --exec -- wine "$@"
fi
exec wine "$@"
