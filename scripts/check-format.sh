#!/usr/bin/env bash
# Fails when a C++ source differs from what clang-format makes of it (.clang-format), or
# when shellcheck finds anything in the shell scripts of scripts/, dist/, tests/kernel/,
# tests/windows/ and cmake/ (those with a .sh name or a shell's #! line).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: all C++ sources as clang-format writes them"

scripts=()
while IFS= read -r -d '' file; do
  case "$file" in
    *.sh | *.sh.in) scripts+=("$file") ;;
    *) if [ -f "$file" ] && [ ! -L "$file" ] && head -n 1 "$file" | grep -qE '^#!.*[/ ](ba|da)?sh( |$)'; then scripts+=("$file"); fi ;;
  esac
done < <(git ls-files -z scripts dist tests/kernel tests/windows cmake)
# The scenarios source their library by a path shellcheck finds beside them (SCRIPTDIR).
shellcheck --external-sources --source-path=SCRIPTDIR -- "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts clean"
