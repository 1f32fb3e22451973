#!/usr/bin/env bash
# The main job on a fresh machine: set up, build the module, run the payment flow against the
# local sandbox and print its transcript.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"
prepare_module
exec "$PY" examples/demo.py
