#!/usr/bin/env bash
# Builds Quillmere and its tests, then runs every test under Wine in a fresh
# prefix on a virtual display of its own, so it never touches your own Wine
# or desktop and two runs never collide.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows-x64
cmake --build --preset windows-x64

# The second compiler: the same sources built with clang, whose unit tests
# run below in the same Wine session, and clang-tidy over the program.
cmake --preset windows-x64-clang
cmake --build --preset windows-x64-clang
scripts/lint.sh

. scripts/wine-session.sh

status=0
ctest --preset windows-x64 "$@" || status=$?
# Only when the arguments pick some of the unit tests.
listed=$(ctest --preset windows-x64-clang -N "$@" || true)
if grep -q '^Total Tests: [1-9]' <<<"$listed"; then
  echo "The unit tests, built with clang:"
  ctest --preset windows-x64-clang "$@" || status=$?
fi
exit $status
