#!/bin/bash
# Builds vdInstaller.exe, the tools and the tests into build/ (installs what is missing first).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages
"$ROOT/scripts/deps.sh"
# arguments are cache settings (-DVD_PACKAGE_SIGNER=...): they take effect on a configured tree too
if [ ! -f "$BUILD/cmake/build.ninja" ] || [ $# -gt 0 ]; then
    cmake -G Ninja -S "$ROOT" -B "$BUILD/cmake" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DVD_DEPS_PREFIX="$PREFIX" "$@"
fi
cmake --build "$BUILD/cmake"
# the product's real NSIS setup packages for tests and the demo (cached)
"$ROOT/tests/product/build_product.sh"
mkdir -p "$BUILD/bin"
# build/bin is the one stable place other checks run from
for f in "$BUILD/cmake/bin"/*.exe; do cp -u "$f" "$BUILD/bin/"; done
ls -l "$BUILD/bin/vdInstaller.exe"
