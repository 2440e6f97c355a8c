#!/bin/bash
# make dist: dist/psd-plugins-VERSION.zip, the package users install. It
# holds one folder psd-plugins-VERSION/ with the four plug-in DLLs,
# INSTALL.txt (tools/dist/INSTALL.txt), LICENSE.txt and SHA256SUMS (the
# SHA-256 sums of the other five files). The DLLs are checked first as the
# dll_exports test checks them: imports, exports, version resource.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

version=$(sed -n 's/^project(psdplugins VERSION \([0-9][0-9.]*\) .*/\1/p' \
  CMakeLists.txt)
if [ -z "$version" ]; then
  echo "dist: no version in CMakeLists.txt" >&2
  exit 1
fi
dlls=(build/win32/flatview.spi build/win32/layerpack.spi
  build/win64/flatview.sph build/win64/layerpack.sph)
for dll in "${dlls[@]}"; do
  [ -f "$dll" ] || { echo "dist: $dll is missing: run make build" >&2; exit 1; }
done
cmake -DSOURCE_DIR="$root" -DNATIVE_DIR="$root/build/native" \
  -DPSD_VERSION="$version" -P cmake/check_exports.cmake

name="psd-plugins-$version"
stage="dist/$name"
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage"
cp "${dlls[@]}" "$stage/"
# The texts with Windows line ends, for the people who open them there.
sed "s/@VERSION@/$version/; s/\$/\r/" tools/dist/INSTALL.txt >"$stage/INSTALL.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$stage" && sha256sum flatview.spi layerpack.spi flatview.sph \
  layerpack.sph INSTALL.txt LICENSE.txt >SHA256SUMS)
(cd dist && /usr/bin/python3 -m zipfile -c "$name.zip" "$name")
(cd "$stage" && sha256sum -c --quiet SHA256SUMS)
echo "dist: dist/$name.zip"
/usr/bin/python3 -m zipfile -l "dist/$name.zip"
sha256sum "dist/$name.zip"
