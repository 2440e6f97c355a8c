#!/bin/bash
# Runs compare.py for one Windows build with the project's wine prefix, its
# running server and the loader of the machine's route.
#   run.sh REPO BUILD ARGUMENTS-FOR-compare.py...
# Exit 77 (skipped, with the reason) where the route skips the build.
repo="$1" build="$2"
shift 2
# shellcheck source=/dev/null
. "$repo/tools/wine-env.sh" || { echo "wine is not ready" >&2; exit 1; }
echo "route: $ROUTE_LINE"
if ! loader=$(wine_loader "$build"); then
  echo "$build skipped on this machine: $loader"
  exit 77
fi
exec /usr/bin/python3 "$(dirname "$0")/compare.py" --repo "$repo" \
  --build "$build" --wine "$loader" "$@"
