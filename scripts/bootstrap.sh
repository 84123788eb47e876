#!/usr/bin/env bash
# Installs, only when missing, the Debian 12 packages needed to build, test
# and benchmark the library. Run as root (or it prints what to install).
# With --fuzz it also installs what scripts/fuzz.sh needs: clang with its
# libFuzzer and sanitizer runtimes, the zlib header and the symbolizer for
# stack traces. With --windows, what scripts/test-windows.sh needs: the
# mingw-w64 cross compiler (posix threads), Wine and dpkg-source.
set -euo pipefail

# Needed by every build; the script fails when one cannot be installed.
REQUIRED_PACKAGES=(
  g++
  cmake
  ninja-build
  pkg-config
  libtinyxml-dev
  libstorm-dev
  libbz2-dev
  libgtest-dev
  libbenchmark-dev
  binutils
  pybind11-dev
  python3-dev
  python3-pytest
)

# Used when present; a failed install is reported and skipped.
OPTIONAL_PACKAGES=()

# Needed with --fuzz only.
FUZZ_PACKAGES=(
  clang
  libclang-rt-14-dev
  zlib1g-dev
)
# Needed with --windows only (about 170 MB to download on a fresh machine).
WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  wine64
  dpkg-dev
)
# Used with --fuzz when present: symbolized sanitizer stack traces.
FUZZ_OPTIONAL_PACKAGES=(
  llvm
)

log() { printf 'bootstrap: %s\n' "$*"; }

is_installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

# Prints the packages of the given list that are not installed, one a line.
missing_from() {
  local package
  for package in "$@"; do
    is_installed "$package" || printf '%s\n' "$package"
  done
}

can_install() {
  [[ "$(id -u)" -eq 0 ]] && command -v apt-get >/dev/null 2>&1
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "$@" >/dev/null
}

main() {
  case "${1:-}" in
    "") ;;
    --fuzz)
      REQUIRED_PACKAGES+=("${FUZZ_PACKAGES[@]}")
      OPTIONAL_PACKAGES+=("${FUZZ_OPTIONAL_PACKAGES[@]}")
      ;;
    --windows) REQUIRED_PACKAGES+=("${WINDOWS_PACKAGES[@]}") ;;
    *)
      echo "usage: scripts/bootstrap.sh [--fuzz | --windows]" >&2
      return 2
      ;;
  esac
  local -a required optional
  mapfile -t required < <(missing_from "${REQUIRED_PACKAGES[@]}")
  mapfile -t optional < <(missing_from "${OPTIONAL_PACKAGES[@]}")

  if [[ ${#required[@]} -eq 0 && ${#optional[@]} -eq 0 ]]; then
    log "all packages present"
    return 0
  fi

  if ! can_install; then
    if [[ ${#required[@]} -gt 0 ]]; then
      log "missing packages; as root, run:"
      printf '  apt-get install -y %s\n' "${required[*]}"
    fi
    if [[ ${#optional[@]} -gt 0 ]]; then
      log "optional packages missing:"
      printf '  apt-get install -y %s\n' "${optional[*]}"
    fi
    [[ ${#required[@]} -eq 0 ]]
    return
  fi

  log "apt-get update"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null

  local package
  for package in "${required[@]}"; do
    if ! apt_install "$package"; then
      log "could not install $package"
      return 1
    fi
    log "installed $package"
  done
  for package in "${optional[@]}"; do
    if apt_install "$package"; then
      log "installed $package"
    else
      log "skipped optional $package (install failed)"
    fi
  done
}

main "$@"
