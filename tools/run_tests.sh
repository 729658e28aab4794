#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and end to end).
# Usage: tools/run_tests.sh [ctest arguments, e.g. -L unit or -R test_shell]
source "$(dirname "$0")/common.sh"

install_missing
build_tool
ensure_template_prefix

work=$(mktemp -d /tmp/torvanel-tests.XXXXXX)
xvfb_pid=""
cleanup() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The unit tests share one prefix and one display of their own; each
# end-to-end test makes its own of both.
export WINEPREFIX=$work/prefix
cp -a "$TORVANEL_TEMPLATE_PREFIX" "$WINEPREFIX"
display=$(free_display)
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
wineserver -p
# Start the prefix's background services now, detached from ctest's pipes:
# a service started by a test would hold that test's output open until the end.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done

cd "$TORVANEL_BUILD_DIR"
ctest --output-on-failure -j2 "$@"
