#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the program's own
# sources (not the tests, not the benchmarks), compiled as the clang build
# compiles them, one per core; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# Up to date compile commands (and the generated headers they include).
cmake --preset windows-x64-clang >/dev/null

mapfile -t sources < <(python3 -c '
import json, os, sys
root = os.getcwd() + os.sep
for entry in json.load(open("build-clang/compile_commands.json")):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    relative = path[len(root):] if path.startswith(root) else ""
    if relative.endswith(".cpp") and not relative.startswith(("tests" + os.sep, "bench" + os.sep)):
        print(path)
')
[ ${#sources[@]} -gt 0 ] || { echo "lint: no sources in build-clang/compile_commands.json" >&2; exit 1; }

# Each file's findings are printed together, and only when there are any.
if ! printf '%s\0' "${sources[@]}" | xargs -0 -n 1 -P "$(nproc)" sh -c '
    out=$(clang-tidy-14 -p build-clang --quiet --header-filter=".*" --warnings-as-errors="*" "$1" 2>&1) && exit 0
    printf "%s\n" "$out"
    exit 1' lint; then
  echo "lint: clang-tidy found the above" >&2
  exit 1
fi
echo "lint: ${#sources[@]} sources clean"
