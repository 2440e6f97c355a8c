#!/bin/bash
# The demonstration run after a build (make demo): makes the sample document,
# shows the four Windows plug-ins under wine (along the machine's route,
# tools/wine-route.sh; a build the route skips is named, with the reason),
# the two Linux plug-ins answering psdhost, decodes the sample's picture with flatview and lists
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

# The identity and probe of one Windows build's two plug-ins, all in one
# start of its psdhost.exe (psdhost script), shown command by command.
windows_demo() {
  local build=$1 loader=$2 suffix=.spi plugin dll name
  [ "$build" = win64 ] && suffix=.sph
  local folder="$out/$build"
  rm -rf "$folder" && mkdir -p "$folder" || exit 1
  local -a shown=()
  for plugin in flatview layerpack; do
    dll="$root/build/$build/$plugin$suffix"
    if [ ! -e "$dll" ] || [ ! -e "build/$build/psdhost.exe" ]; then
      echo "demo: $dll or build/$build/psdhost.exe is missing: run make build" >&2
      exit 1
    fi
    printf 'about-%s\tabout\t%s\n' "$plugin" "$dll" >>"$folder/script.txt"
    printf 'probe-%s\tprobe\t%s\t%s\n' "$plugin" "$dll" \
      "$root/$out/sample.psd" >>"$folder/script.txt"
    shown+=("about-$plugin|about build/$build/$plugin$suffix"
      "probe-$plugin|probe build/$build/$plugin$suffix $out/sample.psd")
  done
  echo "+ $loader build/$build/psdhost.exe script $folder/script.txt"
  # Output into files: the first wine program on a fresh server also starts
  # wine's services, which inherit its output handles and would keep a pipe
  # open after this script ends.
  (cd "$folder" && "$loader" "$root/build/$build/psdhost.exe" script \
    script.txt </dev/null >script.log 2>&1) || {
    cat "$folder/script.log"
    echo "demo: psdhost.exe of $build failed" >&2
    exit 1
  }
  for entry in "${shown[@]}"; do
    name=${entry%%|*}
    echo "  psdhost.exe ${entry#*|}"
    sed 's/^/    /' "$folder/$name.out"
    if [ "$(cat "$folder/$name.exit")" != 0 ]; then
      cat "$folder/$name.err" >&2
      echo "demo: $name of $build exited $(cat "$folder/$name.exit")" >&2
      exit 1
    fi
  done
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
echo "route: $ROUTE_LINE"
skipped=""
for build in win32 win64; do
  if ! loader=$(wine_loader "$build"); then
    echo "demo: the $build plug-ins are skipped on this machine: $loader"
    skipped+=" $build ($loader)"
    continue
  fi
  windows_demo "$build" "$loader"
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
# The wine server and the services it started end with the demonstration.
_wine_env_stop
if [ -n "$skipped" ]; then
  echo "demo: Windows builds skipped on this machine:$skipped"
fi
echo "route: $ROUTE_LINE"
