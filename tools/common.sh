# Shared by the demo and test commands: install what is missing, build, and
# keep a template Wine prefix outside the repository.
set -euo pipefail

TORVANEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TORVANEL_CACHE=${TORVANEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/torvanel}
TORVANEL_TEMPLATE_PREFIX=$TORVANEL_CACHE/wine-template
# The build folder; build/ unless TORVANEL_BUILD_DIR names another.
TORVANEL_BUILD_DIR=${TORVANEL_BUILD_DIR:-$TORVANEL_ROOT/build}
export TORVANEL_ROOT TORVANEL_CACHE TORVANEL_TEMPLATE_PREFIX TORVANEL_BUILD_DIR

# Quiet Wine, but still show a missing DLL; no sound devices here.
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xdotool x11-utils
          imagemagick ffmpeg fonts-ipafont-gothic locales googletest python3 zip unzip)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    # Wine needs the ja_JP locale for code page 932 in the A-form calls.
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
            echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
        as_root locale-gen >/dev/null
    fi
}

build_tool() {
    if [ "$TORVANEL_BUILD_DIR" = "$TORVANEL_ROOT/build" ]; then
        (cd "$TORVANEL_ROOT" && cmake --preset mingw >/dev/null && cmake --build --preset mingw)
    else
        cmake -S "$TORVANEL_ROOT" -B "$TORVANEL_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$TORVANEL_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
        cmake --build "$TORVANEL_BUILD_DIR" -j2
    fi
}

# The template prefix is made once (about 15 s) and copied for each run (about 1.5 s).
ensure_template_prefix() {
    if [ -f "$TORVANEL_TEMPLATE_PREFIX/.torvanel-ready" ]; then
        return
    fi
    rm -rf "$TORVANEL_TEMPLATE_PREFIX"
    mkdir -p "$TORVANEL_CACHE"
    echo "Creating the template Wine prefix in $TORVANEL_TEMPLATE_PREFIX"
    WINEPREFIX=$TORVANEL_TEMPLATE_PREFIX wineboot -i >/dev/null 2>&1
    WINEPREFIX=$TORVANEL_TEMPLATE_PREFIX wineserver -w
    touch "$TORVANEL_TEMPLATE_PREFIX/.torvanel-ready"
}

# Processes the scripts start, ended by PID in stop_services.
xvfb_pid=""
camera_pid=""

# Starts Xvfb on a display number it picks itself and exports DISPLAY.
start_xvfb() {
    local file
    file=$(mktemp /tmp/torvanel-display.XXXXXX)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$file" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(tr -d '[:space:]' <"$file")"
    rm -f "$file"
}

# Uses the prefix at $1 (copied from the template when missing) with one
# persistent wineserver, and starts its background services now, detached from
# later commands' pipes: a service started by a test would hold that test's
# output open until the end.
start_prefix() {
    export WINEPREFIX=$1
    [ -d "$WINEPREFIX" ] || cp -a "$TORVANEL_TEMPLATE_PREFIX" "$WINEPREFIX"
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Starts the demo camera; $1: a folder for its port file, $2: the folder served
# under /file/. Exports TORVANEL_CAMERA_PORT.
start_camera() {
    python3 "$TORVANEL_ROOT/tools/camera_server.py" --port-file "$1/camera.port" --files "$2" \
        --cache "$TORVANEL_CACHE/camera" --lifetime 7200 >/dev/null 2>&1 &
    camera_pid=$!
    for _ in $(seq 600); do
        [ -s "$1/camera.port" ] && break
        sleep 0.1
    done
    TORVANEL_CAMERA_PORT=$(cat "$1/camera.port")
    export TORVANEL_CAMERA_PORT
}

stop_services() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
    fi
    for pid in $camera_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
