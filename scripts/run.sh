#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ambrio: on the record file given, or on the emulated
# analyzer playing the built-in demo, ready for Run. Without a display (no X11 or Wayland session), the
# window is served over VNC on port 5900 instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DAMBRIO_BUILD_TESTS=OFF -DAMBRIO_BUILD_BENCH=OFF
ambrio="$root/build/src/app/ambrio"
args=(--emulate=demo)
if [[ $# -gt 0 ]]; then
  args=("$@")
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  export QT_QPA_PLATFORM="vnc:size=1400x900:port=${AMBRIO_VNC_PORT:-5900}"
  echo "No display: Ambrio is served over VNC at localhost:${AMBRIO_VNC_PORT:-5900} (Ctrl+C ends it)."
fi
exec "$ambrio" "${args[@]}"
