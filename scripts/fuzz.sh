#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target] [target...]      (default 60 s; all four targets)
# The growing corpus lives in fuzz/corpus-work/<target>/ (not versioned), seeded from
# fuzz/corpus/<target>/; crashes, hangs and leaks land in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(bmp png jpeg watermark)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELINOR_FUZZ=ON \
  -DPELINOR_GUI=OFF -DPELINOR_TESTS=OFF -DPELINOR_BENCH=OFF >/dev/null
cmake --build build-fuzz --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p build-fuzz/artifacts build-fuzz/logs
status=0
for t in "${targets[@]}"; do
  work="fuzz/corpus-work/$t"
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  log="build-fuzz/logs/$t.log"
  echo "== fuzz_$t for ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/bin/fuzz_$t" "$work" "fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$t-" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    echo "   ok: $runs executions, $cov, corpus $(find "$work" -type f | wc -l) files"
  else
    status=1
    echo "   FAILED (see $log):"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/   /'
  fi
done
exit $status
