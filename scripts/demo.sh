#!/usr/bin/env bash
# Runs the program on the bundled example simulation.
set -euo pipefail
build=${1:-build}
echo "The bundled example is not built yet: $build/kwd-footprint is ready."
"$build/kwd-footprint" </dev/null
