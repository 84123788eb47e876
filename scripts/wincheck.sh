#!/usr/bin/env bash
# Compiles every library source for Windows with the mingw-w64 cross
# compiler, so that the _WIN32 branches (entry point, export declarations,
# the stream's sharing mode) are at least compiled. Nothing is linked: only
# copies of the dependencies' headers are used.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cxx="${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}"
command -v "$cxx" >/dev/null 2>&1 || cxx=x86_64-w64-mingw32-g++
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "wincheck: no mingw-w64 compiler; skipped"
  exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/include" "$work/obj"
for h in StormLib.h StormPort.h tinyxml.h; do
  cp "/usr/include/$h" "$work/include/"
done

status=0
count=0
while IFS= read -r src; do
  count=$((count + 1))
  obj="$work/obj/$(echo "${src#"$root"/}" | tr '/' '_').o"
  if ! "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror -c "$src" -o "$obj" \
      -DSELVANE_BUILDING_LIBRARY -DTIXML_USE_STL \
      -I"$root" -I"$root/query/include" -I"$root/fields/include" \
      -isystem "$work/include"; then
    echo "wincheck: FAILED $src"
    status=1
  fi
done < <(find "$root/query" "$root/fields" "$root/readers" -name '*.cpp' | sort)
if [ "$status" -eq 0 ]; then
  echo "wincheck: $count library sources compile for Windows"
fi
exit "$status"
