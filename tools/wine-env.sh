# Wine for the tests: a project-local prefix and a persistent wine server.
#
#   . tools/wine-env.sh          sets WINEPREFIX and WINEDEBUG, creates the
#                                prefix if it is missing, starts the server
#   bash tools/wine-env.sh start the same, as a command (ctest fixture)
#   bash tools/wine-env.sh stop  stops the server (ctest cleanup fixture)
#
# The prefix is build/wineprefix in the repository. It is created only once,
# and only after both 64-bit and 32-bit wine are installed (a prefix made
# without 32-bit wine cannot run 32-bit programs).

_wine_env_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$_wine_env_root/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

_wine_env_prepare() {
  if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
    echo "wine-env: wine is not installed (make deps)" >&2
    return 1
  fi
  if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    echo "wine-env: wine32:i386 is not installed (make deps)" >&2
    return 1
  fi
  mkdir -p "$(dirname "$WINEPREFIX")" || return 1
  # One creator at a time; the others wait for the prefix to be complete.
  (
    flock -w 300 9 || { echo "wine-env: prefix lock timed out" >&2; exit 1; }
    if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine-env: creating $WINEPREFIX" >&2
      wineboot -i </dev/null >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; exit 1; }
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
    start) _wine_env_prepare; exit $? ;;
    stop) _wine_env_stop; exit 0 ;;
    *) echo "usage: $0 [start|stop]" >&2; exit 2 ;;
  esac
else
  _wine_env_prepare
fi
