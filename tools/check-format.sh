#!/usr/bin/env bash
# Fails when a C++ file under src, tests, bench or fuzz is not laid out as .clang-format says.
# The reference is clang-format 14, Debian 12's (tools/install-deps.sh test installs it): other
# versions break some lines differently. CLANG_FORMAT names another binary.
# Usage: tools/check-format.sh [--fix]   (--fix rewrites the files in place instead)
set -euo pipefail
cd "$(dirname "$0")/.."

cf="${CLANG_FORMAT:-}"
if [ -z "$cf" ]; then
  if command -v clang-format-14 >/dev/null; then cf=clang-format-14; else cf=clang-format; fi
fi
command -v "$cf" >/dev/null || { echo "check-format: $cf is not installed" >&2; exit 2; }

mapfile -d '' files < <(find src tests bench fuzz -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \) -print0 | sort -z)

if [ "${1:-}" = --fix ]; then
  "$cf" -i "${files[@]}"
  exit 0
fi

# One call for the common case; file by file only to name the ones that are off.
"$cf" --dry-run --Werror "${files[@]}" >/dev/null 2>&1 && {
  echo "clang-format: ${#files[@]} files formatted"
  exit 0
}
bad=()
for f in "${files[@]}"; do
  "$cf" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (${#bad[@]} file(s)); tools/check-format.sh --fix" \
    "rewrites them:" >&2
  printf '  %s\n' "${bad[@]}" >&2
else
  echo "check-format: $cf failed over the whole set:" >&2
  "$cf" --dry-run --Werror "${files[@]}" >/dev/null || true
fi
exit 1
