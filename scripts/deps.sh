#!/bin/bash
# Cross-builds jsoncpp, zlib + minizip and GoogleTest for i686-w64-mingw32 into build/deps/prefix.
# Sources come from Debian (source packages and /usr/src/googletest); results are cached.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
mkdir -p "$DEPS/src" "$PREFIX"
TC="$ROOT/cmake/mingw-i686.cmake"

debian_mirror() {
    local uri
    uri=$(grep -hE '^\s*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -v security | head -1 || true)
    if [ -z "$uri" ]; then
        uri=$(grep -hE '^\s*deb\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
              | grep -v security | sed -E 's/^\s*deb\s+(\[[^]]*\]\s+)?//' | awk '{print $1}' | head -1 || true)
    fi
    echo "${uri:-http://deb.debian.org/debian}"
}

# apt-get source against a private list under build/, leaving the system's lists alone.
fetch_source() {
    local pkg="$1" apt="$DEPS/apt"
    if ls -d "$DEPS/src/$pkg"-*/ >/dev/null 2>&1; then return; fi
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_mirror) bookworm main" > "$apt/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
    if [ ! -f "$apt/.updated" ]; then apt-get "${opts[@]}" update -q && touch "$apt/.updated"; fi
    (cd "$DEPS/src" && apt-get "${opts[@]}" source --download-only "$pkg" && dpkg-source -x --no-check "$pkg"_*.dsc)
}

cmake_cross() { cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TC" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@"; }

if [ ! -f "$PREFIX/.zlib" ]; then
    fetch_source zlib
    src=$(ls -d "$DEPS/src"/zlib-*/ | head -1)
    rm -rf "$DEPS/b-zlib"
    cmake_cross -S "$src" -B "$DEPS/b-zlib" >/dev/null
    cmake --build "$DEPS/b-zlib" --target zlibstatic
    install -D -m644 "$DEPS/b-zlib/libzlibstatic.a" "$PREFIX/lib/libz.a"
    install -D -m644 "$src/zlib.h" "$PREFIX/include/zlib.h"
    install -D -m644 "$DEPS/b-zlib/zconf.h" "$PREFIX/include/zconf.h"
    # minizip is compiled by our own CMake from the unpacked contrib sources
    mkdir -p "$PREFIX/src"; rm -rf "$PREFIX/src/minizip"; cp -r "$src/contrib/minizip" "$PREFIX/src/minizip"
    touch "$PREFIX/.zlib"
fi

# the build compiles jsoncpp from this source itself (CMakeLists.txt); the installed headers stay
fetch_source libjsoncpp

# Our patch to jsoncpp's source, recorded by a stamp holding the patch's digest: a cached tree
# that is unpatched, or patched by an older version, is unpacked afresh and patched again.
patch_jsoncpp() {
    local src patch="$ROOT/scripts/jsoncpp-no-streams.patch" stamp sum
    src=$(ls -d "$DEPS/src"/libjsoncpp-*/ | head -1); src="${src%/}"
    stamp="$src/.vd-patched"
    sum=$(sha256sum "$patch" | cut -d' ' -f1)
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ]; then return; fi
    if [ -f "$stamp" ] || ! patch -d "$src" -p1 --dry-run --forward -s <"$patch" >/dev/null; then
        rm -rf "$src"
        (cd "$DEPS/src" && dpkg-source -x --no-check libjsoncpp_*.dsc >/dev/null)
    fi
    patch -d "$src" -p1 --forward -s <"$patch"
    echo "$sum" >"$stamp"
    echo "== jsoncpp patched ($(basename "$patch"))"
}
patch_jsoncpp
if [ ! -f "$PREFIX/.jsoncpp" ]; then
    fetch_source libjsoncpp
    src=$(ls -d "$DEPS/src"/libjsoncpp-*/ | head -1)
    rm -rf "$DEPS/b-jsoncpp"
    cmake_cross -S "$src" -B "$DEPS/b-jsoncpp" -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
        -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=OFF -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_EXAMPLE=OFF >/dev/null
    cmake --build "$DEPS/b-jsoncpp"
    cmake --install "$DEPS/b-jsoncpp" >/dev/null
    touch "$PREFIX/.jsoncpp"
fi

if [ ! -f "$PREFIX/.gtest" ]; then
    rm -rf "$DEPS/b-gtest"
    cmake_cross -S /usr/src/googletest -B "$DEPS/b-gtest" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$DEPS/b-gtest"
    cmake --install "$DEPS/b-gtest" >/dev/null
    touch "$PREFIX/.gtest"
fi
echo "== dependencies ready in $PREFIX"
