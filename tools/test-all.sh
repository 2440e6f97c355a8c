#!/bin/bash
# make test and make check: every build, then the tests in parts, each
# timed, with the machine's route to the Windows builds (tools/wine-route.sh)
# said at the start and at the end.
#
#   tools/test-all.sh test    what a developer runs after a change (minutes):
#     1. the native tests: unit tests, the comparisons over the shared
#        collections, and the hostile sweeps on a sample of their cases
#     2. the wine suite: both Windows builds against the native build, on a
#        sample of the collections' documents
#     3. a short sanitizer pass: the hostile tests under AddressSanitizer
#        and UBSan (build/asan) on a smaller sample
#   tools/test-all.sh check   everything (continuous integration):
#     1. the native tests, as above, and the heap-contents sweep whole
#     2. the wine suite on every document
#     3. the full hostile sweeps under AddressSanitizer and UBSan, in
#        parallel (but the heap-contents one, which runs natively)
#     4. decoding on several threads under ThreadSanitizer (build/tsan)
#     5. a short run of each fuzzer (build/fuzz)
#
# A failing build stops at once; a failing part does not stop the parts
# after it, and makes the whole fail. HOSTILE_SAMPLE=N runs one sweep case
# in N, WINE_SAMPLE=N one document in N.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
jobs=${JOBS:-2}
tier=${1:-test}
case "$tier" in
test | check) ;;
*)
  echo "usage: tools/test-all.sh test|check" >&2
  exit 2
  ;;
esac
# The quick tier's samples.
native_sample=8
wine_sample=4
asan_sample=64

bash tools/wine-route.sh probe || exit 1

summary=()
skips=()
failed=0
# part NAME COMMAND...: runs and times one part.
part() {
  local name=$1 began=$SECONDS status
  shift
  echo
  echo "== $name"
  "$@"
  status=$?
  local took=$((SECONDS - began))
  local verdict=ok
  [ $status -eq 0 ] || verdict="FAILED (exit $status)" failed=1
  summary+=("$(printf '  %-14s %3dm%02ds  %s' "$name" $((took / 60)) $((took % 60)) "$verdict")")
  return $status
}

finish() {
  echo
  echo "== make $tier"
  printf '%s\n' "${summary[@]}"
  [ ${#skips[@]} -eq 0 ] || printf '%s\n' "${skips[@]}"
  bash tools/wine-route.sh line
  exit $failed
}

# The last line each skipped test printed (its reason), from ctest's log.
skip_reasons() {
  local folder=$1 listing=$2 name reason
  sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$listing" |
    while read -r name; do
      reason=$(awk -v want="Testing: $name" '
        index($0, want) && length($0) == index($0, want) + length(want) - 1 {
          found = 1 }
        found && /^<end of output>/ { print last; exit }
        found && seen && NF { last = $0 }
        found && /^Output:/ { seen = 1 }' \
        "$folder/Testing/Temporary/LastTest.log")
      echo "  skipped $name: $reason"
    done
}

# ctest in build/native; the skipped tests and their reasons go into the
# summary.
native_ctest() {
  local listing status
  listing=$(mktemp)
  (cd build/native && ctest --output-on-failure -j"$jobs" "$@") | tee "$listing"
  status=${PIPESTATUS[0]}
  mapfile -t -O "${#skips[@]}" skips < <(skip_reasons build/native "$listing")
  rm -f "$listing"
  return "$status"
}

build_all() { make --no-print-directory build JOBS="$jobs"; }
native_tests() { HOSTILE_SAMPLE=$native_sample native_ctest -LE wine; }
# The check tier: the sweeps' sample natively, but the heap-contents sweep
# whole (it asks the allocator itself to fill new blocks, so the sanitizer
# build adds nothing to it and runs it slowly).
native_tests_check() {
  HOSTILE_SAMPLE=$native_sample native_ctest -LE wine \
    -E OutputDoesNotDependOnHeapContents &&
    native_ctest -R OutputDoesNotDependOnHeapContents
}
wine_suite() { WINE_SAMPLE=$1 native_ctest -L wine; }
# The hostile tests under AddressSanitizer and UBSan, one case in $1 (and
# other ctest arguments after it).
sanitizers() {
  local sample=$1
  shift
  cmake --preset native-asan >/dev/null &&
    cmake --build --preset native-asan -j"$jobs" --target hostile_tests \
      hostile_threads flatview layerpack &&
    (cd build/asan && HOSTILE_SAMPLE=$sample ctest --output-on-failure \
      -j"$jobs" -L hostile -LE wine "$@")
}
# Decoding in bands, and requests on several threads at once, under the
# thread sanitizer (clang).
thread_sanitizer() {
  cmake --preset native-tsan >/dev/null &&
    cmake --build --preset native-tsan -j"$jobs" --target hostile_tests \
      hostile_threads flatview layerpack &&
    (cd build/tsan && ctest --output-on-failure -j"$jobs" \
      -R 'ManyThreadsGiveTheBytesOfOne|ThreadsTest')
}
fuzzers() {
  cmake --preset fuzz >/dev/null &&
    cmake --build build/fuzz -j"$jobs" --target fuzz_picture fuzz_layer \
      fuzz_listing fuzz_probe write_test_documents make_sample &&
    (cd build/fuzz && ctest --output-on-failure -j"$jobs" -L fuzz)
}

part build build_all || finish
if [ "$tier" = test ]; then
  part "native tests" native_tests
  part "wine suite" wine_suite "$wine_sample"
  part sanitizers sanitizers "$asan_sample"
else
  part "native tests" native_tests_check
  part "wine suite" wine_suite 1
  part sanitizers sanitizers 1 -E OutputDoesNotDependOnHeapContents
  part "threads (TSan)" thread_sanitizer
  part fuzzers fuzzers
fi
finish
