#!/usr/bin/env bash
# Checks that every C and C++ source file is formatted as .clang-format says;
# with --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files 'src/*' 'libs/*' 'tools/*' 'tests/*' 'fuzz/*' 'bench/*' |
                     grep -E '\.(c|cpp|h)$')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run -Werror "${files[@]}"
fi
