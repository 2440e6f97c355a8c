#!/bin/bash
# Runs compare.py with the project's wine prefix and its running server.
#   run.sh REPO ARGUMENTS-FOR-compare.py...
repo="$1"
shift
# shellcheck source=/dev/null
. "$repo/tools/wine-env.sh" || { echo "wine is not ready" >&2; exit 1; }
exec /usr/bin/python3 "$(dirname "$0")/compare.py" --repo "$repo" "$@"
