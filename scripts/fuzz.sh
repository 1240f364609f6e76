#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target] [target...]      (default 60 s; every target)
# The growing corpus lives in fuzz/corpus-work/<target>/ (not versioned), seeded from
# fuzz/corpus/<target>/. A crash, timeout, leak or out-of-memory input is saved in
# build-fuzz/artifacts/ and fuzzing goes on for the rest of the target's time; the script
# then fails and lists what it found.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(bmp png jpeg watermark tiff webp metadata)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELINOR_FUZZ=ON \
  -DPELINOR_GUI=OFF -DPELINOR_TESTS=OFF -DPELINOR_BENCH=OFF >/dev/null
cmake --build build-fuzz --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p build-fuzz/artifacts build-fuzz/logs
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=print_stacktrace=1
status=0
for t in "${targets[@]}"; do
  work="fuzz/corpus-work/$t"
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== fuzz_$t for ${seconds}s"
  rm -f build-fuzz/logs/"$t".*.log
  end=$((SECONDS + seconds))
  runs=0
  round=0
  found=()
  while [ $((end - SECONDS)) -ge 5 ]; do
    round=$((round + 1))
    log="build-fuzz/logs/$t.$round.log"
    started=$SECONDS
    failed=0
    if "build-fuzz/bin/fuzz_$t" "$work" "fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time=$((end - SECONDS)) -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$t-" >"$log" 2>&1; then
      :
    else
      status=1
      failed=1
      found+=("$(grep -m1 -oE 'ERROR: [A-Za-z]+: [^(]*|SUMMARY: [^ ]+: [a-z-]+' "$log" | head -1) -> \
$(grep -o 'Test unit written to .*' "$log" | sed 's/Test unit written to //') ($log)")
    fi
    n=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -oE '[0-9]+$' || true)
    # A run that died on an input prints no final statistics; take its last status line.
    [ -z "$n" ] && n=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
    runs=$((runs + ${n:-0}))
    if [ $failed -eq 1 ] && [ $((SECONDS - started)) -lt 3 ]; then
      found+=("stopped: the run failed at once (an input in $work fails; see $log)")
      break
    fi
  done
  cov=$(cat build-fuzz/logs/"$t".*.log | grep -oE 'cov: [0-9]+' | sort -t' ' -k2 -n | tail -1 || true)
  echo "   $runs executions in $round run(s), $cov, corpus $(find "$work" -type f | wc -l) files"
  for f in "${found[@]}"; do echo "   found: $f"; done
done
exit $status
