#!/bin/bash
# The main job: runs vdInstaller.exe under Wine and shows its daily log.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"$ROOT/scripts/build.sh" >/dev/null
had_display="${DISPLAY:-}"
wine_start
trap wine_stop EXIT
# no display of the user's own: the window runs hidden (install switch) on the private Xvfb
if [ -z "$had_display" ] || [ "$had_display" != "${DISPLAY:-}" ]; then export VD_DEMO_HIDDEN=1; fi
/usr/bin/python3 "$ROOT/tests/demo.py" "$@"
