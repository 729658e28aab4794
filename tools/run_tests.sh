#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and end to end).
# Usage: tools/run_tests.sh [ctest arguments, e.g. -L unit or -R test_shell]
source "$(dirname "$0")/common.sh"

install_missing
build_tool
ensure_template_prefix

work=$(mktemp -d /tmp/torvanel-tests.XXXXXX)
trap 'stop_services; rm -rf "$work"' EXIT

# The unit tests share one prefix and one display of their own; each
# end-to-end test makes its own of both.
start_xvfb
start_prefix "$work/prefix"

cd "$TORVANEL_BUILD_DIR"
ctest --output-on-failure -j2 "$@"
