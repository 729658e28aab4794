#!/usr/bin/env bash
# Installs what is missing, builds, and runs Torvanel against the bundled demo
# camera on 127.0.0.1. With a display, the tool opens on it; without one, it
# runs in Xvfb inside a Wine virtual desktop and a screenshot is saved.
# The demo has its own Wine prefix, so a user's own settings are never touched.
source "$(dirname "$0")/common.sh"

install_missing
build_tool
ensure_template_prefix

DEMO_PREFIX=$TORVANEL_CACHE/demo-prefix
DEMO_WORK=$TORVANEL_CACHE/demo-work
# A demo prefix copied from an older template is made afresh from the current one.
if [ "$(cat "$DEMO_PREFIX/.torvanel-ready" 2>/dev/null)" != "$TORVANEL_TEMPLATE_VERSION" ]; then
    rm -rf "$DEMO_PREFIX"
fi
mkdir -p "$DEMO_WORK/jpg" "$DEMO_WORK/avi"
for f in check.wav torvanel.htm; do
    [ -f "$TORVANEL_BUILD_DIR/package/$f" ] && cp "$TORVANEL_BUILD_DIR/package/$f" "$DEMO_WORK/"
done
run=$(mktemp -d /tmp/torvanel-demo.XXXXXX)
trap 'stop_services; rm -rf "$run"' EXIT

start_camera "$run" "$run"
url="http://127.0.0.1:$TORVANEL_CAMERA_PORT/${TORVANEL_DEMO_ROUTE:-live.jpg}"
echo "Demo camera: $url"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    headless=1
    start_xvfb
fi
start_prefix "$DEMO_PREFIX"
wine reg add 'HKCU\Software\Kembrisk\torvanel' /v url /t REG_SZ /d "$url" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Kembrisk\torvanel' /v WaitTime /t REG_DWORD /d 200 /f >/dev/null 2>&1

cd "$DEMO_WORK"
if [ "$headless" -eq 0 ]; then
    echo "Torvanel runs on $DISPLAY; right-click its window for the menu, quit there to end the demo."
    wine "$TORVANEL_BUILD_DIR/torvanel.exe" </dev/null
    exit 0
fi

# Inside a virtual desktop Wine draws the caption and frame itself.
wine explorer /desktop=Torvanel,800x600 "$TORVANEL_BUILD_DIR/torvanel.exe" </dev/null >/dev/null 2>&1 &
wine_pid=$!
sleep "${TORVANEL_DEMO_SECONDS:-8}"
shot=$TORVANEL_BUILD_DIR/demo-screenshot.png
import -window root -crop 800x600+0+0 "$shot"
echo "Screenshot of the running demo: $shot"
wineserver -k 2>/dev/null || true
wait "$wine_pid" 2>/dev/null || true
