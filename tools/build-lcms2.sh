#!/usr/bin/env bash
# Builds LittleCMS 2 from Debian's source package as static libraries for the
# three builds (native, win32, win64), under build/deps/lcms2. The source is
# fetched with apt-get source through a sources list and state folder of this
# build's own (the machine's apt configuration is left as it is); nothing of
# it is kept in the tree.
#
# The objects are freestanding: cmake/lcms2_runtime.h renames every C library
# function the library calls to one of platform/lcms_runtime.cpp, so each
# plug-in still imports only KERNEL32.dll and USER32.dll, and every build
# computes the same numbers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/deps/lcms2"
stamp="$out/built-v2"
[ -f "$stamp" ] && exit 0

apt_dir="$out/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/parts"
cat >"$apt_dir/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache::Archives=$apt_dir/archives"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
  -o "APT::Sandbox::User=root")

src="$out/src"
if [ ! -d "$src/src" ]; then
  echo "lcms2: fetching Debian's source package"
  apt-get "${apt_opts[@]}" update -qq </dev/null
  rm -rf "$out/fetch" "$src"
  mkdir -p "$out/fetch"
  (cd "$out/fetch" && apt-get "${apt_opts[@]}" source --download-only -qq lcms2 </dev/null)
  dsc="$(ls "$out"/fetch/lcms2_*.dsc | head -n 1)"
  dpkg-source --no-check -x "$dsc" "$src" >/dev/null
fi

flags=(-O2 -DNDEBUG -DCMS_NO_REGISTER_KEYWORD=1 -D__USE_MINGW_ANSI_STDIO=0
  -ffp-contract=off -fno-math-errno -w -I"$src/include"
  -include "$root/cmake/lcms2_runtime.h")

build_one() {  # name compiler extra-flags...
  local name="$1" cc="$2"
  shift 2
  local dir="$out/$name"
  rm -rf "$dir"
  mkdir -p "$dir/obj"
  echo "lcms2: building for $name"
  local pids=()
  for c in "$src"/src/*.c; do
    "$cc" "${flags[@]}" "$@" -c "$c" -o "$dir/obj/$(basename "${c%.c}").o" &
    pids+=($!)
    if [ "${#pids[@]}" -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  done
  for p in "${pids[@]}"; do wait "$p"; done
  local ar=ar
  [ "$name" = win32 ] && ar=i686-w64-mingw32-ar
  [ "$name" = win64 ] && ar=x86_64-w64-mingw32-ar
  "$ar" rcs "$dir/liblcms2.a" "$dir"/obj/*.o
  rm -rf "$dir/obj"
}

build_one native gcc -fPIC
build_one win32 i686-w64-mingw32-gcc -msse2 -mfpmath=sse -mincoming-stack-boundary=2 \
  -ffreestanding -fno-stack-protector
build_one win64 x86_64-w64-mingw32-gcc -ffreestanding -fno-stack-protector
touch "$stamp"
