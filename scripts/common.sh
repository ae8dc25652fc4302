# Shared by build.sh, test.sh and demo.sh: package set-up, paths and the Wine environment.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
DEPS="$BUILD/deps"
PREFIX="$DEPS/prefix"

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

PACKAGES="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 cmake ninja-build \
 wine wine32:i386 wine64 xvfb xauth x11-apps x11-utils xdotool openbox imagemagick fonts-wqy-zenhei nsis \
 python3 python3-pytest python3-pil osslsigncode clang libclang-rt-14-dev googletest dpkg-dev openssl curl ca-certificates debian-archive-keyring"

ensure_packages() {
    local missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "== installing:$missing"
        if ! dpkg --print-foreign-architectures | grep -qx i386; then $SUDO dpkg --add-architecture i386; fi
        $SUDO apt-get update -q
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
    fi
}

wine_env() {
    export WINEPREFIX="$BUILD/wineprefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LC_ALL=C.UTF-8
}

# A persistent wineserver with every stream detached, so later wine runs start in ~0.05 s and
# nothing inherits our pipes.
# Wine's desktop process binds to the display it first meets, so every window of a run (tests
# and demo alike) lives on one display: the caller's, or a private Xvfb started here.
XVFB_PID=""
xvfb_start() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
    local n
    for n in $(seq 90 400); do
        # a lock left by a killed server is stale: Xvfb takes the number over
        if [ -e "/tmp/.X$n-lock" ] && kill -0 "$(tr -d ' ' < "/tmp/.X$n-lock" 2>/dev/null || echo 0)" 2>/dev/null; then
            continue
        fi
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        if kill -0 "$XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$n"
            if [ "${VD_TEST_WM:-1}" != 0 ]; then wm_start; fi
            return
        fi
    done
    echo "no free X display" >&2
    return 1
}

# A window manager on our own display (VD_TEST_WM=0 leaves it out), as on any desktop: without one
# Wine waits about 2 s for an answer to every hide and destroy of a window.
WM_PID=""
wm_start() {
    openbox --sm-disable </dev/null >/dev/null 2>&1 &
    WM_PID=$!
    for _ in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        kill -0 "$WM_PID" 2>/dev/null || break
        sleep 0.1
    done
}

wine_start() {
    xvfb_start
    wine_env
    local fresh=0
    [ -f "$WINEPREFIX/system.reg" ] || fresh=1
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine wineboot </dev/null >/dev/null 2>&1 || true
    if [ "$fresh" = 1 ]; then prefix_setup; fi
}

wine_stop() {
    wine_env
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -n "$WM_PID" ]; then kill "$WM_PID" 2>/dev/null || true; fi
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Documents, Desktop and Temp as real folders inside the prefix; a font replacement for the skin face.
prefix_setup() {
    local user_dir="$WINEPREFIX/drive_c/users/$(id -un)"
    # every shell folder Wine links into the home folder becomes a real folder of the prefix
    for d in "$user_dir"/*; do
        if [ -L "$d" ]; then rm -f "$d"; mkdir -p "$d"; fi
    done
    mkdir -p "$user_dir/Documents" "$user_dir/Desktop" "$user_dir/Temp"
    local reg="$BUILD/prefix_setup.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91"="WenQuanYi Zen Hei"\r\n' > "$reg.utf8"
    # regedit wants UTF-16 for non-ASCII names
    iconv -f UTF-8 -t UTF-16 "$reg.utf8" > "$reg"
    wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1 || true
    # system dialogs (message boxes) fall back to the same face for Chinese text
    for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
            /t REG_MULTI_SZ /d "wqy-zenhei.ttc,WenQuanYi Zen Hei" /f </dev/null >/dev/null 2>&1 || true
    done
    wineserver -w </dev/null >/dev/null 2>&1 || true
}
