#!/usr/bin/env bash
# Runs every libFuzzer target for N minutes each (default 10), seeded with the shared corpus and
# the project's own fixtures.
# Inputs that crash, hang or blow up memory are kept in tests/data/fuzz-regressions/ (in the
# sub-folder named after the target's file type when there is one), where every test run replays
# them through the same targets built with fuzz/replay_main.cpp.
# Usage: tools/fuzz.sh [MINUTES] [TARGET...]   (targets default to every fuzz_* built)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
minutes="${1:-10}"
shift || true
build="${QM_FUZZ_BUILD:-$root/build-fuzz}"
corpus_src="${QM_CORPUS_DIR:-$root/../shared/corpus}"
keep="$root/tests/data/fuzz-regressions"
mkdir -p "$keep"

if [ ! -d "$build" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQM_BUILD_FUZZ=ON -DQM_BUILD_GUI=OFF -DQM_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

status=0
for t in "${targets[@]}"; do
  ext="${t#fuzz_}"  # fuzz_xls -> xls, fuzz_xlsx -> xlsx
  work="$build/fuzz-corpus/$t"
  mkdir -p "$work"
  # Seed with the small real-world files of the matching kind (copies stay in the build folder).
  case "$ext" in
    xmlss) seeds=(xml) ;;
    ods) seeds=(ods fods) ;;
    *) seeds=("$ext") ;;
  esac
  for src in "$corpus_src" "$root/tests/data/$ext" "$root/tests/data/text"; do
    [ -d "$src" ] || continue
    for s in "${seeds[@]}"; do
      find "$src" -type f -iname "*.$s" -size -200k -exec cp -n {} "$work/" \; 2>/dev/null || true
    done
  done
  # Kept where the suite's replay of this target looks (fuzz/CMakeLists.txt).
  dest="$keep/$ext"
  [ -d "$dest" ] || dest="$keep"
  echo "== $t for $minutes minute(s)"
  if ! "$build/fuzz/$t" "$work" -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=2048 \
      -max_len=262144 -print_final_stats=1 -artifact_prefix="$dest/$t-" 2>"$build/$t.log"; then
    echo "   $t found a failing input; see $build/$t.log and $dest/" >&2
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$t.log" || true
done
exit $status
