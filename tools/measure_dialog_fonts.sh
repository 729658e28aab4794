#!/usr/bin/env bash
# Installs the candidate Japanese fonts, builds, and prints for each
# proportional Japanese font how many labels of the settings dialog and the
# About box it cuts (tools/measure_dialog_fonts.py). Usage:
# tools/measure_dialog_fonts.sh [--details]
source "$(dirname "$0")/common.sh"

install_missing
install_missing "${FONT_CANDIDATE_PACKAGES[@]}"
build_tool
ensure_template_prefix

export TORVANEL_EXE=$TORVANEL_BUILD_DIR/torvanel.exe
export TORVANEL_PROBE=$TORVANEL_BUILD_DIR/tests/e2e_probe.exe
python3 "$TORVANEL_ROOT/tools/measure_dialog_fonts.py" "$@"
