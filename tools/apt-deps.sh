#!/bin/bash
# make deps: installs the Debian packages named on the command line that are
# missing; with everything present it touches neither apt nor the network.
#
# A mirror caught mid-sync can fail one index (apt-get update exits 100,
# "File has unexpected size"); the packages whose index did arrive still
# install. When the i386 index is the one missing, the 32-bit packages
# cannot match their 64-bit peers: everything else is installed and the
# 32-bit wine route reports itself skipped, saying why (tools/wine-route.sh).
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all present"
  exit 0
fi
echo "deps: installing ${missing[*]}"

if [[ " ${missing[*]}" == *":i386"* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386 || exit 1
fi

updated=0
for attempt in 1 2 3; do
  if apt-get update </dev/null; then
    updated=1
    break
  fi
  echo "deps: apt-get update failed (attempt $attempt of 3)"
  [ $attempt -lt 3 ] && sleep 10
done
[ $updated -eq 1 ] || echo "deps: going on with the indexes that did arrive"

install() { apt-get install -y --no-install-recommends "$@" </dev/null; }
install "${missing[@]}" && exit 0

native=()
for p in "${missing[@]}"; do
  [[ "$p" == *":i386" ]] || native+=("$p")
done
if [ ${#native[@]} -eq ${#missing[@]} ]; then
  echo "deps: apt-get install failed"
  exit 1
fi
echo "deps: the 32-bit packages cannot be installed now"
if [ ${#native[@]} -gt 0 ]; then
  install "${native[@]}" || exit 1
fi
skipped=()
for p in "${missing[@]}"; do
  [[ "$p" == *":i386" ]] && skipped+=("$p")
done
echo "deps: not installed: ${skipped[*]} (the 32-bit wine runs are skipped)"
exit 0
