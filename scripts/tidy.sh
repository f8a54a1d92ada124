#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every source file of the tree, using the
# compile commands of the default build. Any finding fails the run.
# Usage: scripts/tidy.sh
set -euo pipefail
cd "$(dirname "$0")/.."
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
# The compile commands of the default build (build/); the generated moc headers first.
cmake --preset default >/dev/null
cmake --build --preset default --target autogen >/dev/null
# Our own sources only: not the generated moc and resource files, nor the layering test's
# probe, which is meant not to compile.
"$runner" -quiet -clang-tidy-binary "$tidy" -p build -j "$(nproc)" \
    '^'"$PWD"'/(?!tests/layering/)(app|cache|cli|platform|preview|save|tests|tools|bench|fuzz)/.*\.cpp$' 
