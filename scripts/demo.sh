#!/bin/bash
# The main job: runs vdInstaller.exe under Wine and shows its daily log.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"$ROOT/scripts/build.sh" >/dev/null
wine_start
trap wine_stop EXIT
exec /usr/bin/python3 "$ROOT/tests/demo.py" "$@"
