#!/usr/bin/env bash
# Builds the programs (Release) and runs the main job on MODEL or, without one,
# on the bundled sample: import, simplify, encode, save MODEL.qxz and
# MODEL.htm beside it, report what the file holds, and open it in the editor
# when there is a display to show it on.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
source scripts/sample-model.sh
install_deps

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(qxtool vermelle)
# The web viewer's module, when Emscripten is there to build it.
grep -q '^VERMELLE_WEB:BOOL=ON' build/release/CMakeCache.txt && targets+=(control_wasm)
cmake --build build/release --parallel "$(nproc)" --target "${targets[@]}"
qxtool=build/release/cli/qxtool

model=${1:-}
if [ -z "$model" ]; then
  model=$(sample_model)
fi
scene="${model%.*}.qxz"
echo "Converting $model"
"$qxtool" convert "$model" -o "$scene" --html
echo
"$qxtool" info "$scene"
echo "Wrote $scene and ${scene%.*}.htm"
if [ -n "${DISPLAY:-}" ]; then
  echo "Opening $scene in vermelle"
  exec build/release/app/vermelle "$scene"
fi
