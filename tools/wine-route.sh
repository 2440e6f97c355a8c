#!/bin/bash
# How this machine runs the Windows builds, decided once and kept in
# build/wine-route.env for the tests and scripts:
#
#   win64  the 64-bit wine loader, /usr/lib/wine/wine64, called directly
#          (Debian's /usr/bin/wine starts the 32-bit loader first whenever
#          wine32 is installed, which fails where the kernel refuses 32-bit
#          programs).
#   win32  "native" where the kernel runs 32-bit x86 programs itself;
#          "emulated" where it refuses them: qemu's user-mode emulator runs
#          the 32-bit wine loader, through a binfmt_misc entry made here
#          when none exists; "skipped", with the reason, where neither can
#          be had. The emulation is never registered on a machine whose
#          kernel runs 32-bit programs.
#
#   bash tools/wine-route.sh probe   decide (again), set up the emulation
#                                    where it is needed, print the route
#   bash tools/wine-route.sh line    print the route (probing when nothing
#                                    is cached)
#   . tools/wine-route.sh            load the cached route (probing when
#                                    nothing is cached)
#
# PSD_WIN32_ROUTE=skip skips the 32-bit build on purpose.

_route_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_route_cache="$_route_root/build/wine-route.env"
_route_work="$_route_root/build/route"
_route_binfmt=/proc/sys/fs/binfmt_misc
_route_entry=psd-qemu-i386
_route_qemu="${PSD_QEMU_I386:-/usr/bin/qemu-i386-static}"
# The emulated 32-bit address space. Wine needs its top at 0x82000000 or
# above (its shared user data lies at 0x7ffe0000); each 16 MiB more costs
# about a second of start-up under qemu 7.2, so the usual 0xf7000000 makes
# every start take about a minute of CPU and this takes about four
# seconds. A 32-bit program without the large-address flag (ours) never
# gets more than 2 GiB on Windows either.
_route_reserved_va=0x82000000

# A complete 32-bit x86 program that exits with status 42: ELF header,
# one loadable segment, then mov ebx,42; mov eax,1; int 0x80. PAD is
# byte 9 of the header, padding the kernel never looks at; binfmt_misc
# entries for i386 programs (qemu's among them) demand it be 0, so with
# PAD 1 only the kernel itself can run the program.
_route_write_probe() {
  local file=$1 pad='\000'
  [ "$2" = 1 ] && pad='\001'
  {
    printf '\177ELF\001\001\001\000\000'
    printf "$pad"
    printf '\000\000\000\000\000\000'
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000'
    printf '\000\000\000\000\000\000'
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
    printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
    printf '\273\052\000\000\000\270\001\000\000\000\315\200'
  } >"$file" && chmod +x "$file"
}

# Whether the program runs and exits with 42.
_route_runs() {
  "$1" </dev/null >/dev/null 2>&1
  [ $? -eq 42 ]
}

# Whether the enabled binfmt_misc entry ENTRY takes the file whose bytes
# are HEX (two hex digits a byte).
_route_entry_takes() {
  local entry=$1 hex=$2 key value offset=0 magic="" mask=""
  [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || return 1
  while read -r key value; do
    case $key in
      offset) offset=$value ;;
      magic) magic=$value ;;
      mask) mask=$value ;;
    esac
  done <"$entry"
  [ -n "$magic" ] || return 1
  local n=$((${#magic} / 2)) i b m
  [ $(((offset + n) * 2)) -le ${#hex} ] || return 1
  for ((i = 0; i < n; i++)); do
    b=$((16#${hex:$(((offset + i) * 2)):2}))
    m=255
    [ -n "$mask" ] && m=$((16#${mask:$((i * 2)):2}))
    [ $((b & m)) -eq $((16#${magic:$((i * 2)):2} & m)) ] || return 1
  done
  return 0
}

# The name of the first enabled entry that takes the file, if any.
_route_entry_for() {
  local hex entry
  [ "$(cat "$_route_binfmt/status" 2>/dev/null)" = enabled ] || return 1
  hex=$(od -An -v -tx1 "$1" | tr -d ' \n')
  for entry in "$_route_binfmt"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    if _route_entry_takes "$entry" "$hex"; then
      echo "${entry##*/}"
      return 0
    fi
  done
  return 1
}

_route_interpreter() {
  sed -n 's/^interpreter //p' "$_route_binfmt/$1" 2>/dev/null
}

# Makes qemu run 32-bit x86 programs: binfmt_misc mounted, an entry for
# them (an existing one, or ours, with flag F so that the emulator is
# opened once, now). Prints why when it cannot.
_route_set_up_emulation() {
  local std=$1 name
  if [ ! -x "$_route_qemu" ]; then
    echo "$_route_qemu is missing (qemu-user-static, make deps)"
    return 1
  fi
  if [ ! -e "$_route_binfmt/register" ] &&
    ! mount -t binfmt_misc binfmt_misc "$_route_binfmt" 2>/dev/null; then
    echo "binfmt_misc is not mounted and cannot be mounted here (needs root)"
    return 1
  fi
  if [ "$(cat "$_route_binfmt/status")" != enabled ]; then
    echo "binfmt_misc is switched off ($_route_binfmt/status)"
    return 1
  fi
  if [ -e "$_route_binfmt/$_route_entry" ] &&
    [ "$(head -n 1 "$_route_binfmt/$_route_entry")" != enabled ]; then
    echo 1 >"$_route_binfmt/$_route_entry" 2>/dev/null
  fi
  if ! name=$(_route_entry_for "$std"); then
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if ! printf '%s' ":$_route_entry:M::$magic:$mask:$_route_qemu:F" \
      >"$_route_binfmt/register" 2>/dev/null; then
      echo "cannot register $_route_qemu with binfmt_misc (needs root)"
      return 1
    fi
  fi
  if ! _route_runs "$std"; then
    echo "a 32-bit test program does not run even through $_route_qemu"
    return 1
  fi
  return 0
}

# Decides the route and writes the cache.
_route_probe() {
  local win64=loader win64_reason="" win32 win32_reason="" detail="" entry
  local native_probe="$_route_work/i386-kernel-only"
  local std_probe="$_route_work/i386-program"
  mkdir -p "$_route_work" || return 1
  if [ ! -x /usr/lib/wine/wine64 ]; then
    win64=skipped win64_reason="wine64 is not installed (make deps)"
  fi
  _route_write_probe "$native_probe" 1 && _route_write_probe "$std_probe" 0 ||
    return 1
  if [ "${PSD_WIN32_ROUTE:-}" = skip ]; then
    win32=skipped win32_reason="PSD_WIN32_ROUTE=skip"
  elif [ ! -x /usr/lib/wine/wine ] || ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    win32=skipped win32_reason="wine32:i386 is not installed (make deps)"
  elif entry=$(_route_entry_for "$native_probe"); then
    # Something takes even what only the kernel would run: whatever the
    # kernel can do, that entry decides.
    win32=emulated detail="$(_route_interpreter "$entry"), binfmt_misc entry $entry"
  elif _route_runs "$native_probe"; then
    if entry=$(_route_entry_for "$std_probe"); then
      # Left as it is: not ours to remove, and it wins over the kernel.
      win32=emulated
      detail="the kernel runs 32-bit programs, but binfmt_misc entry $entry hands them to $(_route_interpreter "$entry")"
    else
      win32=native
    fi
  elif win32_reason=$(_route_set_up_emulation "$std_probe"); then
    entry=$(_route_entry_for "$std_probe")
    win32=emulated detail="$(basename "$(_route_interpreter "$entry")"), binfmt_misc entry $entry"
  else
    win32=skipped
  fi
  local line="win64: wine64 loader"
  [ "$win64" = skipped ] && line="win64: skipped ($win64_reason)"
  case $win32 in
    native) line+="; win32: native (the kernel runs 32-bit programs)" ;;
    emulated) line+="; win32: emulated ($detail)" ;;
    skipped) line+="; win32: skipped ($win32_reason)" ;;
  esac
  {
    printf 'ROUTE_WIN64=%q\nROUTE_WIN64_REASON=%q\n' "$win64" "$win64_reason"
    printf 'ROUTE_WIN32=%q\nROUTE_WIN32_REASON=%q\n' "$win32" "$win32_reason"
    printf 'ROUTE_QEMU_RESERVED_VA=%q\nROUTE_LINE=%q\n' "$_route_reserved_va" "$line"
  } >"$_route_cache.tmp" && mv "$_route_cache.tmp" "$_route_cache"
}

# Loads the cache, probing first when there is none, and again when the
# emulation it names is gone (a restart drops binfmt_misc entries).
_route_load() {
  if [ ! -f "$_route_cache" ]; then
    _route_probe || return 1
  fi
  # shellcheck source=/dev/null
  . "$_route_cache"
  if [ "$ROUTE_WIN32" = emulated ] &&
    ! _route_entry_for "$_route_work/i386-program" >/dev/null 2>&1; then
    _route_probe || return 1
    # shellcheck source=/dev/null
    . "$_route_cache"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-line}" in
    probe) _route_probe && _route_load && echo "route: $ROUTE_LINE" ;;
    line) _route_load && echo "route: $ROUTE_LINE" ;;
    *)
      echo "usage: $0 [probe|line]" >&2
      exit 2
      ;;
  esac
else
  _route_load
fi
