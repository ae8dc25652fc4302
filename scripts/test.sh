#!/bin/bash
# Runs every test: GoogleTest programs under Wine and the end-to-end suites, all through ctest.
#   scripts/test.sh [--quick] [ctest arguments]
# --quick: the tests labelled "quick" (unit tests, the doc check, the fast end-to-end suites).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
select=()
if [ "${1:-}" = "--quick" ]; then
    shift
    select=(-L quick)
fi
"$ROOT/scripts/build.sh"
wine_start
trap wine_stop EXIT
cd "$BUILD/cmake"
# mostly waiting on timers, servers and Wine: the suites of separate prefixes run side by side
ctest --output-on-failure --timeout 900 -j "${VD_TEST_JOBS:-5}" "${select[@]}" "$@"
