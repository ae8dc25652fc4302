#!/bin/bash
# The main job: a real installation of the stand-in product through the whole workflow, against
# local servers, then what was installed, where, and the log's key lines.
#   scripts/demo.sh            without a display of your own: the window runs visible on a private
#                              display, is clicked through, and its pages are saved as pictures
#                              in build/demo/; with one: the window shows there for you to click
#   scripts/demo.sh --hidden   the install switch: no window, nothing started afterwards
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"$ROOT/scripts/build.sh" >/dev/null
had_display="${DISPLAY:-}"
wine_start
trap wine_stop EXIT
if [ -z "$had_display" ] || [ "$had_display" != "${DISPLAY:-}" ]; then export VD_DEMO_PRIVATE_DISPLAY=1; fi
/usr/bin/python3 "$ROOT/tests/demo.py" "$@"
