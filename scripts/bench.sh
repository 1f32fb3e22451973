#!/usr/bin/env bash
# The benchmark: builds the module like scripts/test.sh, then prints bench/run.py's table.
# Extra arguments go to bench/run.py (--quick for fewer and shorter rounds).
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"
prepare_module
exec "$PY" bench/run.py "$@"
