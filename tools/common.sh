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

PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine xvfb xdotool
          x11-utils imagemagick ffmpeg fonts-ipafont-gothic fonts-horai-umefont locales googletest
          python3 zip unzip)
# The fonts tools/measure_dialog_fonts.sh compares for the dialog font.
FONT_CANDIDATE_PACKAGES=(fonts-ipafont-gothic fonts-ipafont-mincho fonts-ipaexfont-gothic
                         fonts-vlgothic fonts-takao-gothic fonts-noto-cjk fonts-horai-umefont
                         fonts-mona)

# Wine has neither of the tool's template fonts. The template prefix draws the
# dialogs' proportional "ＭＳ Ｐゴシック" in the installed proportional Japanese
# font that cuts the fewest dialog labels (tools/measure_dialog_fonts.sh), and
# the main window's fixed "ＭＳ ゴシック" in the fixed font of the same family,
# whatever other fonts the machine has. Both come from fonts-horai-umefont.
TORVANEL_DIALOG_FONT="Ume P Gothic"
TORVANEL_FIXED_FONT="Ume Gothic"
# Wine's own fonts (Debian's fonts-wine) lie outside the folders Wine searches;
# the caption buttons need Marlett in the prefix's Fonts folder.
TORVANEL_MARLETT=/usr/share/wine/fonts/marlett.ttf
# Raise it whenever the template's set-up changes: a cached template with
# another version is rebuilt once.
TORVANEL_TEMPLATE_VERSION=2

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages named, PACKAGES when none are, and the locales.
install_missing() {
    local wanted=("$@") missing=()
    [ ${#wanted[@]} -gt 0 ] || wanted=("${PACKAGES[@]}")
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    # Wine needs the ja_JP locale for code page 932 in the A-form calls; the
    # end-to-end tests also run the tool under en_US (code page 1252).
    local locale generate=0
    for locale in ja_JP en_US; do
        if ! locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$"; then
            grep -q "^$locale.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null ||
                echo "$locale.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
            generate=1
        fi
    done
    [ "$generate" -eq 0 ] || as_root locale-gen >/dev/null
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

# The template prefix is made once (about 15 s) and copied for each run (about
# 1.5 s). It is made beside the old one and moved into place when whole, so a
# run that copies the template meanwhile gets the old one or the new one.
ensure_template_prefix() {
    if [ "$(cat "$TORVANEL_TEMPLATE_PREFIX/.torvanel-ready" 2>/dev/null)" = \
         "$TORVANEL_TEMPLATE_VERSION" ]; then
        return
    fi
    local new=$TORVANEL_TEMPLATE_PREFIX.new.$$ old=$TORVANEL_TEMPLATE_PREFIX.old.$$
    local replacements='HKCU\Software\Wine\Fonts\Replacements'
    mkdir -p "$TORVANEL_CACHE"
    rm -rf "$new"
    echo "Creating the template Wine prefix in $TORVANEL_TEMPLATE_PREFIX"
    (
        export WINEPREFIX=$new
        wineboot -i >/dev/null 2>&1
        cp "$TORVANEL_MARLETT" "$new/drive_c/windows/Fonts/"
        wine reg add "$replacements" /v "ＭＳ Ｐゴシック" /t REG_SZ /d "$TORVANEL_DIALOG_FONT" /f \
            >/dev/null 2>&1
        wine reg add "$replacements" /v "ＭＳ ゴシック" /t REG_SZ /d "$TORVANEL_FIXED_FONT" /f \
            >/dev/null 2>&1
        wineserver -w
    )
    echo "$TORVANEL_TEMPLATE_VERSION" >"$new/.torvanel-ready"
    if [ -e "$TORVANEL_TEMPLATE_PREFIX" ]; then
        mv "$TORVANEL_TEMPLATE_PREFIX" "$old"
    fi
    mv "$new" "$TORVANEL_TEMPLATE_PREFIX"
    rm -rf "$old"
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
