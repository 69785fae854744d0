#!/usr/bin/env bash
# Fails when a C++ file in the tree differs from what the project's
# .clang-format makes of it, naming every such file. The formatter is pinned
# to clang-format 14 (Debian 12's clang-format-14): another version lays some
# constructs out differently, and the check must give the same answer on
# every machine. `--fix` rewrites the files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format-14
if ! command -v "$formatter" >/dev/null; then
  echo "check-format: $formatter is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

fix=0
if [ "${1:-}" = "--fix" ]; then fix=1; fi

# The tracked files when this is a git checkout, every file otherwise;
# build folders are never part of the tree.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.cc' '*.c' '*.h' '*.hpp')
else
  mapfile -t files < <(find . -path ./build -prune -o -type f \
    \( -name '*.cpp' -o -name '*.cc' -o -name '*.c' -o -name '*.h' -o -name '*.hpp' \) -print |
    sed 's|^\./||' | sort)
fi

differ=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! "$formatter" --style=file "$f" | cmp -s - "$f"; then
    differ+=("$f")
  fi
done

if ((${#differ[@]} == 0)); then
  echo "check-format: ${#files[@]} files match .clang-format"
  exit 0
fi
if ((fix)); then
  "$formatter" --style=file -i "${differ[@]}"
  printf 'check-format: reformatted %s\n' "${differ[@]}"
  exit 0
fi
echo "check-format: ${#differ[@]} of ${#files[@]} files differ from .clang-format" \
  "(bash scripts/check-format.sh --fix rewrites them):" >&2
printf '  %s\n' "${differ[@]}" >&2
exit 1
