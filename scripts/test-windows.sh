#!/usr/bin/env bash
# Builds the library, its tests and the command line for 64-bit Windows with
# the mingw-w64 cross compiler and runs the tests under Wine.
#
# TinyXML and GoogleTest are built for Windows from Debian's source
# packages, fetched through a private apt configuration kept under the build
# folder (the system's apt configuration is not touched). The archive
# library has no Debian source to build from here: set STORMLIB_WINDOWS_PREFIX
# to a folder holding a Windows build of it (include/StormLib.h and
# lib/libstorm.a); without it the archive reader is left out
# (SELVANE_ARCHIVE_READER=OFF), QueryDBC answers -1 and the tests that need
# archive fixtures are not built.
#
# Usage: scripts/test-windows.sh [build folder, default build-windows]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build-windows}"
mkdir -p "$BUILD"
BUILD="$(cd "$BUILD" && pwd)"
JOBS=${JOBS:-2}
TEST_TIMEOUT=${TEST_TIMEOUT:-300}
TRIPLE=x86_64-w64-mingw32
CXX_WIN="$TRIPLE-g++-posix"
DEPS="$BUILD/deps"          # sources and builds of the dependencies
PREFIX="$DEPS/prefix"       # their Windows headers and libraries
APT_DIR="$DEPS/apt"         # the private apt configuration and state
WINE_DIR=/usr/lib/wine
export WINEPREFIX="$BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export SELVANE_WINE="$WINE_DIR/wine64"

log() { printf 'windows: %s\n' "$*"; }

# Packages: the cross compiler, Wine, and dpkg-source to unpack sources.
install_packages() {
  "$ROOT/scripts/bootstrap.sh" --windows
}

apt_private() {
  apt-get \
    -o Dir::Etc::SourceList="$APT_DIR/sources.list" \
    -o Dir::Etc::SourceParts="$APT_DIR/sources.list.d" \
    -o Dir::State::Lists="$APT_DIR/lists" \
    -o Dir::Cache="$APT_DIR/cache" \
    -o Dir::State::Status="$APT_DIR/status" \
    -o APT::Sandbox::User=root \
    -o Debug::NoLocking=1 \
    -q "$@"
}

# Fetches and unpacks one Debian source package (with Debian's patches)
# into $DEPS/src/NAME, once.
fetch_source() {
  local name=$1
  [[ -d "$DEPS/src/$name" ]] && return 0
  mkdir -p "$DEPS/download"
  (cd "$DEPS/download" && apt_private source --download-only "$name" >/dev/null)
  local dsc
  dsc=$(ls "$DEPS/download/${name}"_*.dsc | head -n 1)
  dpkg-source --no-check -x "$dsc" "$DEPS/src/$name" >/dev/null
}

fetch_sources() {
  mkdir -p "$APT_DIR/sources.list.d" "$APT_DIR/lists/partial" \
    "$APT_DIR/cache/archives/partial" "$DEPS/src"
  : >"$APT_DIR/status"
  cat >"$APT_DIR/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
LIST
  if [[ ! -d "$DEPS/src/tinyxml" || ! -d "$DEPS/src/googletest" ]]; then
    apt_private update >/dev/null
  fi
  fetch_source tinyxml
  fetch_source googletest
}

# TinyXML has no build system of its own worth using: the three sources
# Debian builds, with the same TIXML_USE_STL, into a static library.
build_tinyxml() {
  [[ -f "$PREFIX/lib/libtinyxml.a" ]] && return 0
  local src="$DEPS/src/tinyxml" obj="$DEPS/tinyxml-build"
  mkdir -p "$obj" "$PREFIX/lib" "$PREFIX/include"
  local f
  for f in tinyxml tinyxmlparser tinyxmlerror; do
    "$CXX_WIN" -O2 -DTIXML_USE_STL -c "$src/$f.cpp" -o "$obj/$f.o"
  done
  "$TRIPLE-ar" rcs "$PREFIX/lib/libtinyxml.a" "$obj"/*.o
  cp "$src/tinyxml.h" "$src/tinystr.h" "$PREFIX/include/"
}

build_googletest() {
  [[ -f "$PREFIX/lib/libgtest.a" ]] && return 0
  cmake -S "$DEPS/src/googletest" -B "$DEPS/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$DEPS/googletest-build" -j "$JOBS" >/dev/null
  cmake --install "$DEPS/googletest-build" >/dev/null
}

configure_and_build() {
  local -a archive
  local roots="$PREFIX"
  if [[ -n "${STORMLIB_WINDOWS_PREFIX:-}" ]]; then
    roots="$roots;$STORMLIB_WINDOWS_PREFIX"
    archive=(-DSELVANE_ARCHIVE_READER=ON)
  else
    archive=(-DSELVANE_ARCHIVE_READER=OFF)
  fi
  cmake -S "$ROOT" -B "$BUILD/selvane" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$roots" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVANE_WERROR=ON \
    -DSELVANE_BENCH=OFF -DSELVANE_EXAMPLES=OFF -DSELVANE_INSTALL=OFF \
    "${archive[@]}"
  cmake --build "$BUILD/selvane" -j "$JOBS"
}

# Without a Windows build of the archive library, the sources that need it
# are at least compiled for Windows (not linked), against the headers of
# Debian's libstorm-dev: the archive reader and the tests left out above.
check_archive_sources() {
  [[ -n "${STORMLIB_WINDOWS_PREFIX:-}" ]] && return 0
  local headers="$DEPS/storm-headers" status=0 src
  mkdir -p "$headers"
  cp /usr/include/StormLib.h /usr/include/StormPort.h "$headers/"
  local -a sources=(readers/DBCFileWrapper.cpp readers/ArchiveGuard.cpp
    readers/ArchiveGuards.cpp readers/ArchiveTable.cpp
    query/ArchiveQuery.cpp tests/support/MpqBuilder.cpp
    tests/query/SelvaneObjectTest.cpp tests/query/FaultTest.cpp
    tests/query/ConcurrencyTest.cpp tests/query/ArchiveFormatTest.cpp
    tests/readers/DBCFileWrapperTest.cpp tests/readers/ArchiveGuardTest.cpp
    tests/readers/DamagedArchiveTest.cpp tests/tools/CliEndToEndTest.cpp)
  local -a pids=()
  for src in "${sources[@]}"; do
    "$CXX_WIN" -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
      -DTIXML_USE_STL -DSELVANE_CLI='"selvane.exe"' \
      -I"$ROOT" -I"$ROOT/query/include" -I"$ROOT/fields/include" \
      -isystem "$PREFIX/include" -isystem "$headers" "$ROOT/$src" &
    pids+=($!)
    if [[ ${#pids[@]} -ge $JOBS ]]; then
      wait "${pids[0]}" || status=1  # the compiler names the file
      pids=("${pids[@]:1}")
    fi
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  if [[ $status -eq 0 ]]; then
    log "${#sources[@]} sources that need the archive library compile for Windows"
  else
    log "some sources that need the archive library do not compile for Windows"
  fi
  return "$status"
}

# A persistent wineserver first: otherwise Wine's helper processes can
# inherit ctest's output pipe and ctest waits for them for good.
start_wine() {
  mkdir -p "$WINEPREFIX"
  "$WINE_DIR/wineserver64" -p
  "$WINE_DIR/wine64" wineboot --init >/dev/null 2>&1
}

stop_wine() {
  "$WINE_DIR/wineserver64" -k 2>/dev/null || true
}

run_tests() {
  start_wine
  trap stop_wine EXIT
  local status=0
  (cd "$BUILD/selvane" &&
    ctest --output-on-failure -j "$JOBS" --timeout "$TEST_TIMEOUT") \
    2>&1 | tee "$BUILD/ctest.log" || status=1
  return "$status"
}

summary() {
  log "under Wine: $(grep -E 'tests? failed out of' "$BUILD/ctest.log" | tail -n 1)"
  if [[ -z "${STORMLIB_WINDOWS_PREFIX:-}" ]]; then
    log "the archive reader was not built for Windows (no STORMLIB_WINDOWS_PREFIX):"
    log "  QueryDBC answers -1; left out, as they write archive fixtures:"
    log "  query_object_tests fault_tests concurrency_tests archive_format_tests"
    log "  table_layout_tests dbc_reader_tests archive_guard_tests"
    log "  random_tables_tests table_tests cli_e2e_tests"
  fi
  log "export table of SelvaneLibrary.dll:"
  "$TRIPLE-objdump" -p "$BUILD/selvane/bin/SelvaneLibrary.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p'
}

main() {
  local start=$SECONDS
  install_packages
  fetch_sources
  build_tinyxml
  build_googletest
  configure_and_build
  local status=0
  check_archive_sources || status=1
  run_tests || status=1
  summary
  log "done in $((SECONDS - start)) s"
  return "$status"
}

main "$@"
