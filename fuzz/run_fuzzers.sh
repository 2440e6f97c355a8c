#!/bin/bash
# Runs fuzz targets one after the other, each for SECONDS ("env": the
# FUZZ_SECONDS environment variable, else 60), on its corpus in
# BUILD_DIR/corpus-NAME with the PSD dictionary. New inputs stay in the
# corpus; a crash leaves its input in BUILD_DIR/fuzz-findings/ and fails.
#
#   run_fuzzers.sh BUILD_DIR SECONDS|env TARGET...
set -u
build=$(cd "$1" && pwd)
seconds=$2
[ "$seconds" = env ] && seconds=${FUZZ_SECONDS:-60}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in "$@"; do
  name=${target#fuzz_}
  corpus="$build/corpus-$name"
  mkdir -p "$corpus"
  if [ -z "$(ls -A "$corpus")" ]; then
    bash "$here/seed_corpus.sh" "$build" "$here/.." >/dev/null
  fi
  echo "== $target: $seconds s on $(ls "$corpus" | wc -l) inputs"
  log="$build/$target.fuzz.log"
  (cd "$build" && nice -n 10 "./fuzz/$target" "$corpus" \
      -dict="$here/psd.dict" -max_total_time="$seconds" -max_len=262144 \
      -timeout=90 -rss_limit_mb=3072 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" >"$log" 2>&1)
  rc=$?
  grep -E '^#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|cov:' "$log" | tail -n 2
  if [ $rc -ne 0 ]; then
    echo "$target: FAILED (exit $rc); see $log and $findings"
    grep -E 'ERROR|SUMMARY|fuzz check failed|#[0-9]+ 0x' "$log" | head -n 30
    status=1
  fi
done
exit $status
