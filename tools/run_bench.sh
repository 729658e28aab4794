#!/usr/bin/env bash
# Installs what is missing, builds, and runs the benchmarks under Wine in Xvfb.
# Usage: tools/run_bench.sh [bench_name ...]   (default: every bench_* program)
source "$(dirname "$0")/common.sh"

install_missing
build_tool
ensure_template_prefix

work=$(mktemp -d /tmp/torvanel-bench.XXXXXX)
trap 'stop_services; rm -rf "$work"' EXIT

start_xvfb
start_prefix "$work/prefix"
# The camera the fetch benchmark downloads from.
start_camera "$work" "$work"
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
