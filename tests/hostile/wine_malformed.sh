#!/bin/bash
# The malformed documents of write_hostile_documents through psdhost of the
# native build and of one Windows build under wine: the same exit status,
# the same standard output and the same files, command by command.
#
#   wine_malformed.sh REPO NATIVE_BUILD WINDOWS_BUILD win32|win64 WORK
# Exit 77 (skipped) when the Windows build or wine is not there.
set -u
repo=$1 native=$2 windows=$3 build=$4 work=$5
suffix=.sph
[ "$build" = win32 ] && suffix=.spi
if [ ! -f "$windows/psdhost.exe" ] || [ ! -f "$windows/flatview$suffix" ]; then
  echo "wine_malformed: $windows has no psdhost.exe or plug-ins: skipped"
  exit 77
fi
# shellcheck source=/dev/null
. "$repo/tools/wine-env.sh" || { echo "wine is not ready: skipped"; exit 77; }

rm -rf "$work" && mkdir -p "$work/plugins" || exit 1
"$native/tests/hostile/write_hostile_documents" "$work/docs" "${HOSTILE_PER_DOCUMENT:-6}" || exit 1
(cd "$work" && ls docs | sed 's|^|../docs/|' >docs.txt)
for p in flatview layerpack; do
  cp "$native/$p.so" "$windows/$p$suffix" "$work/plugins/" || exit 1
done

status=0
# compare NAME PLUGIN ARGS...: runs both hosts in fresh folders.
compare() {
  local name=$1 plugin=$2
  shift 2
  mkdir -p "$work/native-$name" "$work/$build-$name"
  (cd "$work/native-$name" &&
    "$native/psdhost" "$@" >stdout 2>stderr)
  local native_rc=$?
  local args=()
  for a in "$@"; do
    [ "$a" = "../plugins/$plugin.so" ] && a="../plugins/$plugin$suffix"
    args+=("$a")
  done
  (cd "$work/$build-$name" && wine "$windows/psdhost.exe" "${args[@]}" >stdout 2>stderr)
  local wine_rc=$?
  local problems=""
  [ "$native_rc" -le 1 ] || problems+=" native exit $native_rc ($(head -c 300 "$work/native-$name/stderr"))"
  # Two runs that both did nothing must not count as agreeing.
  grep -q 'result 0\|compound.bmp' "$work/native-$name/stdout" ||
    problems+=" the native run decoded nothing"
  [ "$native_rc" = "$wine_rc" ] || problems+=" exit native $native_rc, $build $wine_rc"
  if ! cmp -s "$work/native-$name/stdout" "$work/$build-$name/stdout"; then
    problems+=" stdout differs"
    diff "$work/native-$name/stdout" "$work/$build-$name/stdout" | head -20
  fi
  if [ -d "$work/native-$name/out" ] || [ -d "$work/$build-$name/out" ]; then
    if ! diff -r -q "$work/native-$name/out" "$work/$build-$name/out" >/dev/null 2>&1; then
      problems+=" output files differ"
      diff -r -q "$work/native-$name/out" "$work/$build-$name/out" | head -10
    fi
  fi
  if [ -n "$problems" ]; then
    echo "$name:$problems"
    status=1
  else
    echo "$name: same ($(wc -l <"$work/native-$name/stdout") lines, exit $native_rc)"
  fi
}

compare info flatview info ../plugins/flatview.so --files ../docs.txt --memory
compare picture flatview picture ../plugins/flatview.so --files ../docs.txt --batch -o out --memory
compare list layerpack list ../plugins/layerpack.so --files ../docs.txt --memory
compare extract layerpack extract ../plugins/layerpack.so --files ../docs.txt --batch -o out --memory-output --limit 4
echo "$(wc -l <"$work/docs.txt") malformed documents compared with $build"
exit $status
