#!/usr/bin/env bash
# Builds the libFuzzer harnesses and runs each for a bounded time, as many at
# once as there are cores.
#
#   fuzz/run.sh [SECONDS]     (default 60 seconds per harness)
#
# FUZZ_SEED=N fixes libFuzzer's random seed (./test.sh does, so that a run
# explores the same inputs wherever it runs); FUZZ_JOBS=N sets how many
# harnesses run at once.
#
# Needs clang-14 and libclang-rt-14-dev. The build lives in build/fuzz; each
# harness starts from the seeds the seed writer generates plus its format's
# folder of ../shared/corpus when present, and keeps what it learns in
# build/fuzz/corpus/<harness>. A crash, a single input running over 10 s, or
# more than 2 GB of memory fails the run; the input that did it is left in
# build/fuzz/artifacts/<harness>/. Prints executions per second and coverage
# per harness.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
build=build/fuzz
shared=../shared/corpus

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVERMELLE_FUZZ=ON -DVERMELLE_TESTS=OFF -DVERMELLE_WERROR=OFF >/dev/null
cmake --build "$build" --target vermelle_fuzzers --parallel "$jobs"

# Harnesses and the shared corpus folder each one starts from ("" for none).
harnesses=(
  "scene:" "scene_gz:" "settings:" "decode_ring:" "decode_vertex:" "decode_dense:"
  "import_3ds:3ds" "import_ac:ac" "import_dxf:dxf" "import_ldr:ldraw"
  "import_lwo:lwo" "import_obj:obj" "import_ply:ply" "import_stl:stl"
)

scratch="$build/tmp"
rm -rf "$build/seeds" "$scratch" "$build/logs"
mkdir -p "$scratch" "$build/logs"
TMPDIR="$PWD/$scratch" "$build/fuzz/fuzz_write_seeds" "$build/seeds" >/dev/null

seed_flag=()
[[ -n "${FUZZ_SEED:-}" ]] && seed_flag=(-seed="$FUZZ_SEED")

# Runs one harness; its exit status goes to logs/<name>.status.
run_harness() {
  local name=$1 shared_folder=$2
  local corpus="$build/corpus/$name" artifacts="$build/artifacts/$name/" log="$build/logs/$name.log"
  local tmp="$PWD/$scratch/$name"
  mkdir -p "$corpus" "$artifacts" "$tmp"
  local inputs=("$corpus")
  [[ -d "$build/seeds/$name" ]] && inputs+=("$build/seeds/$name")
  [[ -n "$shared_folder" && -d "$shared/$shared_folder" ]] && inputs+=("$shared/$shared_folder")
  # -close_fd_mask=1 silences the import messages on standard output.
  local status=0
  TMPDIR="$tmp" "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts" "${seed_flag[@]}" \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  echo "$status" >"$build/logs/$name.status"
  rm -rf "$tmp"
}

# The final "#N DONE cov: ... exec/s: ..." line of a log, as "exec/s cov".
final_stats() {
  sed -n 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*cov: \([0-9]*\).* exec\/s: \([0-9]*\).*/\2 \1/p' "$1" | tail -n 1
}

for entry in "${harnesses[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  run_harness "${entry%%:*}" "${entry#*:}" &
done
wait

failed=()
printf '%-16s %10s %10s  %s\n' harness "exec/s" coverage result
for entry in "${harnesses[@]}"; do
  name=${entry%%:*}
  log="$build/logs/$name.log"
  if [[ "$(cat "$build/logs/$name.status" 2>/dev/null)" == 0 ]]; then
    result=ok
  else
    result="FAILED (see $log)"
    failed+=("$name")
  fi
  read -r execs coverage <<<"$(final_stats "$log")" || true
  printf '%-16s %10s %10s  %s\n' "$name" "${execs:--}" "${coverage:--}" "$result"
done

if ((${#failed[@]})); then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  for name in "${failed[@]}"; do
    echo "== $name" >&2
    grep -E "ERROR|SUMMARY|Test unit written|==[0-9]+==" "$build/logs/$name.log" | head -20 >&2 || true
  done
  exit 1
fi
