#!/bin/bash
# psdhost.exe of one Windows build with names outside the ANSI code page: a
# document, a picture, folders and a command list named in Japanese, run as
# one psdhost script beside the same script of the native build. Both sides
# must write the same files and print the same bytes; the only difference
# allowed is GetPictureW in the picture line, where the wine prefix's ANSI
# code page has no form of the name, and then the narrow-only listing
# without --memory must refuse the name.
#
#   wide_names.sh REPO BUILD NATIVE_BUILD WINDOWS_BUILD WORK
# Exit 77 (skipped, with the reason) where the route skips the build.
set -u
repo=$1 build=$2 native=$3 windows=$4 work=$5
# shellcheck source=/dev/null
. "$repo/tools/wine-env.sh" || { echo "wine is not ready"; exit 1; }
if ! loader=$(wine_loader "$build"); then
  echo "$build skipped on this machine: $loader"
  exit 77
fi
suffix=.sph
[ "$build" = win32 ] && suffix=.spi
for f in "$native/psdhost" "$native/flatview.so" "$native/layerpack.so" \
  "$native/tests/make_sample" "$windows/psdhost.exe" \
  "$windows/flatview$suffix" "$windows/layerpack$suffix"; do
  [ -e "$f" ] || { echo "$f is not built"; exit 1; }
done
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$native/tests/make_sample" sample.psd >/dev/null || exit 1
cp sample.psd "写真 テスト.psd" || exit 1

# One command list for each side: NAME, then the command (tab-separated).
write_script() { # PLUGIN-FOLDER/ SUFFIX
  printf '%s\t' 画像 picture "$1flatview$2" "../../写真 テスト.psd" -o
  printf '出力.bmp\n'
  printf '%s\t' 一覧 list "$1layerpack$2" "../../写真 テスト.psd"
  printf -- '--memory\n'
  printf '%s\t' 書き出し extract "$1layerpack$2" ../../sample.psd -o 出力
  printf -- '--memory-output\n'
  printf '%s\t' 名前で list "$1layerpack$2"
  printf '../../写真 テスト.psd\n'
}
write_script >"native コマンド.txt" "$native/" .so
write_script >"$build コマンド.txt" "$windows/" "$suffix"
mkdir native "$build" || exit 1
(cd native && "$native/psdhost" script "../native コマンド.txt" \
  >../native.out 2>&1) || { cat native.out; exit 1; }
# Output into files: processes that wine starts on the way keep running and
# would hold a pipe open.
(cd "$build" && "$loader" "$windows/psdhost.exe" script \
  "../$build コマンド.txt" >"../$build.out" 2>&1 </dev/null) ||
  { cat "$build.out"; exit 1; }

status=0
fail() {
  echo "FAILED: $*"
  status=1
}
for side in native "$build"; do
  [ "$(cat "$side/画像.exit" "$side/一覧.exit" "$side/書き出し.exit")" = \
    "$(printf '0\n0\n0')" ] || fail "$side: a command failed: $(cat "$side"/*.err)"
done
cmp -s native/画像/出力.bmp "$build/画像/出力.bmp" ||
  fail "画像/出力.bmp is missing or differs from the native build's"
if grep -q ': GetPictureW result' "$build/画像.out"; then
  if ! grep -q 'outside the ANSI code page' "$build/名前で.err" ||
    [ "$(cat "$build/名前で.exit")" != 1 ]; then
    fail "the listing by a name without an ANSI form did not refuse it"
  fi
  sed -i 's/: GetPictureW result/: GetPicture result/' "$build/画像.out"
  rm -r native/名前で* "$build"/名前で*
fi
diff -r native "$build" || fail "the native and the $build side differ"
[ $status = 0 ] && echo "$build: the same picture, listing and entries" \
  "under names outside the ANSI code page"
exit $status
