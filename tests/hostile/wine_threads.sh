#!/bin/bash
# Builds wine_threads.exe for one Windows build with its cross compiler and
# runs it under wine on the writer's documents and their malformed variants.
#
#   wine_threads.sh REPO NATIVE_BUILD WINDOWS_BUILD win32|win64 WORK
# Exit 77 (skipped) when the Windows build or its compiler is missing,
# where the machine's route (tools/wine-route.sh) skips the build, and for
# the 32-bit build on the emulated route.
set -u
repo=$1 native=$2 windows=$3 build=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
compiler=x86_64-w64-mingw32-g++ suffix=.sph
[ "$build" = win32 ] && compiler=i686-w64-mingw32-g++ suffix=.spi
if [ ! -f "$windows/flatview$suffix" ] || ! command -v "$compiler" >/dev/null; then
  echo "wine_threads: no $build plug-ins or no $compiler: skipped"
  exit 77
fi
# shellcheck source=/dev/null
. "$repo/tools/wine-env.sh" || { echo "wine is not ready"; exit 1; }
if ! loader=$(wine_loader "$build"); then
  echo "wine_threads: $build skipped on this machine: $loader"
  exit 77
fi
if [ "$build" = win32 ] && [ "$ROUTE_WIN32" = emulated ]; then
  # Measured with qemu-user 7.2 and wine 8.0: the second thread of a 32-bit
  # wine process fails at once ("wine client error: write: Bad file
  # descriptor"), whatever the program; single-threaded ones run correctly.
  echo "wine_threads: win32 skipped: qemu-user cannot run a second thread" \
    "of a 32-bit wine program (the win64 build and the native build run this)"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
"$compiler" -std=c++17 -O2 -Wall -Wextra -Werror -static \
  -I"$repo" -I"$here" -o "$work/wine_threads.exe" "$here/wine_threads.cpp" || exit 1
"$native/tests/hostile/write_hostile_documents" "$work/docs" 2 >/dev/null || exit 1
# Private copies of the plug-ins, so that their logs hold only these lines.
cp "$windows/flatview$suffix" "$windows/layerpack$suffix" "$work/" || exit 1
(cd "$work" && ls docs | sed 's|^|docs/|' >docs.txt)
# Output into a file: processes that wine starts on the way keep running
# and would hold a pipe open.
cd "$work" || exit 1
"$loader" ./wine_threads.exe "flatview$suffix" "layerpack$suffix" docs.txt \
  >output.txt 2>&1 </dev/null
status=$?
cat output.txt
exit $status
