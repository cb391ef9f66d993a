#!/usr/bin/env bash
# Builds the Linux plug-in and quarrow-play, then runs quarrow-play with any
# arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target quarrow-play
exec build/linux/tools/play/quarrow-play "$@"
