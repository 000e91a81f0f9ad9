#!/usr/bin/env bash
# Installs what is missing, builds, and decodes a record file: the one given, or a capture generated
# by the project itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DAMBRIO_BUILD_TESTS=OFF -DAMBRIO_BUILD_BENCH=OFF
qxtool="$root/build/cli/qxtool"
file=${1:-}
if [[ -z "$file" ]]; then
  file="$root/build/demo.qxc"
  "$qxtool" synth demo -o "$file"
fi
"$qxtool" info "$file"
echo
"$qxtool" packets "$file"
