#!/usr/bin/env bash
# Installs what is missing, builds, and runs the benchmarks under Wine in Xvfb.
# Usage: tools/run_bench.sh [bench_name ...]   (default: every bench_* program)
source "$(dirname "$0")/common.sh"

install_missing
build_tool
ensure_template_prefix

work=$(mktemp -d /tmp/torvanel-bench.XXXXXX)
xvfb_pid=""
camera_pid=""
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    for pid in $camera_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix
cp -a "$TORVANEL_TEMPLATE_PREFIX" "$WINEPREFIX"
display=$(free_display)
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# The camera the fetch benchmark downloads from.
python3 "$TORVANEL_ROOT/tools/camera_server.py" --port-file "$work/port" --files "$work" \
    --cache "$TORVANEL_CACHE/camera" --lifetime 1800 >/dev/null 2>&1 &
camera_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
export TORVANEL_CAMERA_PORT=$(cat "$work/port")
export TORVANEL_BENCH_WORK=$work

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for exe in "$TORVANEL_BUILD_DIR"/bench/bench_*.exe; do
        [ -e "$exe" ] && names+=("$(basename "$exe" .exe)")
    done
fi
cd "$work"
for name in "${names[@]}"; do
    echo "== $name"
    wine "$TORVANEL_BUILD_DIR/bench/$name.exe" </dev/null
done
