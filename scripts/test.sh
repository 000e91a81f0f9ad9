#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
BUILD_DIR=${BUILD_DIR:-$root/build} "$root/scripts/build.sh" -DAMBRIO_BUILD_TESTS=ON "$@"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
