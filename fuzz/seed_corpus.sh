#!/bin/bash
# Seeds the fuzz corpora in BUILD_DIR/corpus-NAME (never in the repository):
# the shared collections of real documents next to the repository (the
# corpus and corpus-extra), the writer's
# test documents and the sample document. A corpus that already has inputs
# is left as the earlier runs grew it.
#
#   seed_corpus.sh BUILD_DIR SOURCE_DIR
set -u
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
shared="$source_dir/../shared/corpus"
max_seed=131072  # larger documents slow every mutation down

seeds="$build/fuzz-seeds"
if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
  mkdir -p "$seeds"
  i=0
  for collection in "$shared" "$shared-extra"; do
    if [ ! -d "$collection" ]; then
      echo "seed_corpus: $collection not found; left out" >&2
      continue
    fi
    while IFS= read -r -d '' f; do
      i=$((i + 1))
      cp "$f" "$seeds/shared-$i-$(basename "$f")"
    done < <(find "$collection" -type f \( -iname '*.psd' -o -iname '*.psb' \) \
               -size -$((max_seed / 1024))k -print0 | sort -z)
  done
  if [ -x "$build/tests/write_test_documents" ]; then
    mkdir -p "$seeds/writer"
    "$build/tests/write_test_documents" "$seeds/writer" >/dev/null &&
      for f in "$seeds"/writer/*; do
        [ "$(stat -c %s "$f")" -le $max_seed ] && mv "$f" "$seeds/writer-$(basename "$f")"
      done
    rm -rf "$seeds/writer"
  fi
  if [ -x "$build/tests/make_sample" ]; then
    "$build/tests/make_sample" "$seeds/sample.psd" >/dev/null 2>&1 || true
    [ -f "$seeds/sample.psd" ] && [ "$(stat -c %s "$seeds/sample.psd")" -gt $max_seed ] &&
      rm -f "$seeds/sample.psd"
  fi
fi

fill() {  # fill NAME: run the rest of the line only for an empty corpus
  local dir="$build/corpus-$1"
  mkdir -p "$dir"
  [ -z "$(ls -A "$dir")" ]
}

if fill picture; then cp "$seeds"/*.psd* "$build/corpus-picture/" 2>/dev/null; fi
if fill listing; then cp "$seeds"/*.psd* "$build/corpus-listing/" 2>/dev/null; fi
if fill layer; then
  # The first byte selects the entry: the merged picture and layers 1 to 3.
  for f in "$seeds"/*.psd*; do
    for entry in 0 1 2 3; do
      { printf "\\x0$entry"; cat "$f"; } >"$build/corpus-layer/$entry-$(basename "$f")"
    done
  done
fi
if fill probe; then
  # index, buffer length, head size selector, head, name
  head='8BPS\x00\x01\x00\x00\x00\x00\x00\x00'
  printf "\\x00\\x50\\x00$head"'picture.psd' >"$build/corpus-probe/signed"
  printf "\\x01\\x05\\x04$head"'\x00\x02\x00\x00' >"$build/corpus-probe/short-buffer"
  printf '\x02\x03\x8cnot a documentPICTURE.Psd' >"$build/corpus-probe/by-name"
  printf '\x03\x00\x00xxxxxxxxxxxxC:\\my.files\\picture' >"$build/corpus-probe/folder-dot"
  printf '\xff\xff\x81\x38\x42\x50\x53\x00\x02\x00\x00\x00\x00\x00\x00.psd' >"$build/corpus-probe/version2"
fi
for name in picture listing layer probe; do
  echo "seed_corpus: corpus-$name has $(ls "$build/corpus-$name" | wc -l) inputs"
done
