#!/usr/bin/env bash
# Runs the road of one sheet in a fresh folder under the build tree; removes it when the
# road passes and keeps it (for its files and listings) when it does not.
set -uo pipefail
build=$1
shift
work=$(mktemp -d "$build/tests/e2e/road.XXXXXX")
"$(dirname "$0")/../../scripts/road.sh" "$build" "$work" "$@"
status=$?
if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "road files kept in $work"; fi
exit "$status"
