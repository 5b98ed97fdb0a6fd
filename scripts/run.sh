#!/usr/bin/env bash
# Installs what is missing and builds the system's programs in build/.
# The update service's end-to-end run is added here as its pieces land.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DTQ_WERROR=ON
cmake --build build -j"$(nproc)"
echo "Built. Programs: $(cd build && find . -maxdepth 2 -type f -perm -u+x -name 'tq*' ! -name '*.so' | sort | tr '\n' ' ')"
