#!/bin/bash
# The demonstration run after a build (make demo): makes the sample document,
# shows the four Windows plug-ins under wine and the two Linux plug-ins
# answering psdhost, decodes the sample's picture with flatview and lists
# and extracts its layers with layerpack. Everything it writes goes to out/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
native=build/native
out=out

step() {
  echo
  echo "== $*"
}
run() {
  echo "+ $*"
  "$@"
}

for need in "$native/psdhost" "$native/tests/make_sample" "$native/flatview.so" \
            "$native/layerpack.so"; do
  if [ ! -e "$need" ]; then
    echo "demo: $need is missing: run make build first" >&2
    exit 1
  fi
done

mkdir -p "$out"
step "The sample document"
run "$native/tests/make_sample" "$out/sample.psd"
ls -l "$out/sample.psd"

step "The Windows plug-ins under wine: identity and probe"
# Sourced as the condition of "||", so that a step of the wine set-up that
# ends non-zero (a server already running) does not end the demo.
# shellcheck source=/dev/null
. tools/wine-env.sh || { echo "demo: wine is not ready" >&2; exit 1; }
# The first wine program on a fresh server also starts wine's services,
# which inherit its output handles: start them with /dev/null, so that no
# pipe this script writes into stays open after it ends.
wine build/win64/psdhost.exe --help </dev/null >/dev/null 2>&1 || true
for build in win32 win64; do
  suffix=.spi
  [ "$build" = win64 ] && suffix=.sph
  for plugin in flatview layerpack; do
    dll="build/$build/$plugin$suffix"
    if [ ! -e "$dll" ] || [ ! -e "build/$build/psdhost.exe" ]; then
      echo "demo: $dll or build/$build/psdhost.exe is missing: run make build" >&2
      exit 1
    fi
    run wine "build/$build/psdhost.exe" about "$dll"
    run wine "build/$build/psdhost.exe" probe "$dll" "$out/sample.psd"
  done
done

step "The Linux plug-ins: identity and probe"
for plugin in flatview layerpack; do
  run "$native/psdhost" about "$native/$plugin.so"
  run "$native/psdhost" probe "$native/$plugin.so" "$out/sample.psd"
done

step "flatview: picture information and the merged picture"
run "$native/psdhost" info "$native/flatview.so" "$out/sample.psd"
run "$native/psdhost" picture "$native/flatview.so" "$out/sample.psd" \
  -o "$out/sample.bmp"
if command -v identify >/dev/null 2>&1; then
  run identify "$out/sample.bmp"
fi

step "layerpack: the document as an archive, every entry extracted"
run "$native/psdhost" list "$native/layerpack.so" "$out/sample.psd"
# The plug-in never replaces a file: start from an empty folder.
rm -rf "$out/sample-layers"
run "$native/psdhost" extract "$native/layerpack.so" "$out/sample.psd" \
  -o "$out/sample-layers"
ls -l "$out/sample-layers"

echo
echo "demo: done; the picture is $out/sample.bmp, the layers are in $out/sample-layers/"
