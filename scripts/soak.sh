#!/usr/bin/env bash
# The short leak soak (bench/soak.py --short) against the module installed in the venv.
# `scripts/soak.sh --full` runs the long form.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

ensure_venv
mode=--short
if [ "${1:-}" = --full ]; then mode=; fi
"$PY" bench/soak.py $mode
