#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every source file of the tree, using the
# compile commands of the default build. Any finding fails the run.
# Usage: scripts/tidy.sh
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/deps.sh tidy
tidy=$(command -v clang-tidy-14 || command -v clang-tidy) ||
    { echo "$0: clang-tidy is not installed (Debian: clang-tidy)" >&2; exit 1; }
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) ||
    { echo "$0: run-clang-tidy is not installed (Debian: clang-tidy)" >&2; exit 1; }
# The compile commands of the default build (build/); the generated moc headers first.
echo "Configuring build/ (preset default) for its compile commands"
cmake --preset default >/dev/null
echo "Generating the moc and resource files"
if ! cmake --build --preset default --target autogen >build/tidy-autogen.log 2>&1; then
    cat build/tidy-autogen.log >&2
    echo "$0: generating the moc files failed" >&2
    exit 1
fi
# Our own sources only: not the generated moc and resource files, nor the layering test's
# probe, which is meant not to compile.
echo "Running $tidy over the sources ($(nproc) at a time); any finding fails the run"
"$runner" -quiet -clang-tidy-binary "$tidy" -p build -j "$(nproc)" \
    '^'"$PWD"'/(?!tests/layering/)(app|cache|cli|platform|preview|save|tests|tools|bench|fuzz)/.*\.cpp$' 
