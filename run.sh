#!/usr/bin/env bash
# Set up, build and start Varnex (key.dat is looked for in its data folder, build/, then here).
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
"$top/scripts/install-deps"
VARNEX_TARGETS="varnex varnex-sim" "$top/scripts/build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display found; starting Varnex on Qt's offscreen platform (both links still serve)."
  export QT_QPA_PLATFORM=offscreen
fi
exec "$top/build/varnex" "$@"
