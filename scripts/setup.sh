# Shared by scripts/test, scripts/demo and scripts/bench (sourced, not run):
# installs what is missing, builds into build/, and starts a Wine server of
# our own on a prefix under build/, stopped again when the caller exits.

set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

install_missing() {
  local packages=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || packages+=(wine wine64)
  command -v wineserver >/dev/null || [ -x /usr/lib/wine/wineserver64 ] || packages+=(wine64)
  command -v cmake >/dev/null || packages+=(cmake)
  command -v make >/dev/null || packages+=(make)
  [ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
  [ ${#packages[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${packages[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${packages[@]}" >/dev/null
}

# Quiet when all is well; the whole build output when it is not.
build() {
  mkdir -p "$BUILD"
  if ! { cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
           -DCMAKE_BUILD_TYPE=Release &&
         cmake --build "$BUILD" -j"$(nproc)"; } >"$BUILD/build.log" 2>&1; then
    cat "$BUILD/build.log"
    echo "Build failed." >&2
    exit 1
  fi
}

# wineserver is not always on PATH (Debian puts it under /usr/lib/wine).
wineserver_command() {
  if command -v wineserver >/dev/null; then echo wineserver
  elif [ -x /usr/lib/wine/wineserver64 ]; then echo /usr/lib/wine/wineserver64
  else echo /usr/lib/wine/wineserver
  fi
}

stop_wine() {
  "$(wineserver_command)" -k >/dev/null 2>&1 || true
}

start_wine() {
  # A caller may keep a prefix of its own, so that its server outlives ours.
  export WINEPREFIX="${TEZ_WINE_PREFIX:-$BUILD/wine}"
  export WINEDEBUG=-all
  # No Mono or Gecko: their installers would try to download and ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$WINEPREFIX"
  trap stop_wine EXIT
  # A persistent server, and the prefix's services started once with every
  # standard stream away from ours, so no test inherits them.
  # (A server left running on this prefix is simply reused.)
  "$(wineserver_command)" -p 2>/dev/null || true
  wine wineboot </dev/null >/dev/null 2>&1
}

install_missing
build
start_wine
