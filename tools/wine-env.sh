# Wine for the tests and the demonstration, along the machine's route
# (tools/wine-route.sh): a project-local prefix and a persistent wine server.
#
#   . tools/wine-env.sh          sets WINEPREFIX and WINEDEBUG (and, on the
#                                emulated route, QEMU_RESERVED_VA), creates
#                                the prefix if it is missing, starts the
#                                server (where there is wine); defines
#                                wine_loader
#   bash tools/wine-env.sh start the same, as a command (ctest fixture)
#   bash tools/wine-env.sh stop  stops the server (ctest cleanup fixture)
#
#   wine_loader win32|win64      prints the loader that runs the build's
#                                programs, or fails with the reason why
#                                the build is skipped on this machine
#
# The prefix is build/wine/prefix-ROUTE in the repository, one for each
# route of the 32-bit build. It is made only once, by the 64-bit loader
# (which also sets up the 32-bit half where 32-bit programs run), and only
# after both 64-bit and 32-bit wine are installed: a prefix made without
# 32-bit wine cannot run 32-bit programs.

_wine_env_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=tools/wine-route.sh
. "$_wine_env_root/tools/wine-route.sh" || return 1 2>/dev/null || exit 1
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$_wine_env_root/build/wine/prefix-$ROUTE_WIN32}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$ROUTE_WIN32" = emulated ]; then
  export QEMU_RESERVED_VA="$ROUTE_QEMU_RESERVED_VA"
fi

wine_loader() {
  case $1 in
    win64)
      if [ "$ROUTE_WIN64" = skipped ]; then
        echo "$ROUTE_WIN64_REASON"
        return 1
      fi
      echo /usr/lib/wine/wine64
      ;;
    win32)
      if [ "$ROUTE_WIN64" = skipped ] || [ "$ROUTE_WIN32" = skipped ]; then
        echo "${ROUTE_WIN32_REASON:-$ROUTE_WIN64_REASON}"
        return 1
      fi
      echo /usr/lib/wine/wine
      ;;
    *)
      echo "no Windows build $1"
      return 1
      ;;
  esac
}

_wine_env_prepare() {
  if [ "$ROUTE_WIN64" = skipped ]; then
    echo "wine-env: no wine here: $ROUTE_WIN64_REASON" >&2
    return 1
  fi
  mkdir -p "$(dirname "$WINEPREFIX")" || return 1
  # One creator at a time; the others wait for the prefix to be complete.
  (
    flock -w 600 9 || {
      echo "wine-env: prefix lock timed out" >&2
      exit 1
    }
    if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine-env: creating $WINEPREFIX" >&2
      /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || {
        echo "wine-env: wineboot failed" >&2
        exit 1
      }
      wineserver -w
      touch "$WINEPREFIX/.prefix-ready"
    fi
  ) 9>"$WINEPREFIX.lock" || return 1
  # A persistent server makes every later wine start quick.
  wineserver -p </dev/null >/dev/null 2>&1
  return 0
}

_wine_env_stop() {
  wineserver -k >/dev/null 2>&1
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-start}" in
    start)
      if [ "$ROUTE_WIN64" = skipped ]; then
        echo "wine-env: nothing to set up: $ROUTE_WIN64_REASON"
        exit 0
      fi
      _wine_env_prepare
      exit $?
      ;;
    stop)
      _wine_env_stop
      exit 0
      ;;
    *)
      echo "usage: $0 [start|stop]" >&2
      exit 2
      ;;
  esac
elif [ "$ROUTE_WIN64" != skipped ]; then
  # Where there is no wine at all, wine_loader says why for each build.
  _wine_env_prepare
fi
