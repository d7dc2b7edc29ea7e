#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite: the Linux host
# tools' tests, then the Windows programs' tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
