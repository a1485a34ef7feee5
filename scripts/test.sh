#!/usr/bin/env bash
# Builds Quillmere and its tests, then runs every test under Wine in a fresh
# prefix on a virtual display of its own, so it never touches your own Wine
# or desktop and two runs never collide.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows-x64
cmake --build --preset windows-x64

. scripts/wine-session.sh

ctest --preset windows-x64 "$@"
