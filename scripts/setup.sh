# Shared by scripts/test, scripts/demo, scripts/bench and scripts/package
# (sourced, not run): installs what is missing, builds into build/, and, unless
# TEZ_NO_WINE is set, starts a Wine server of our own on a prefix under build/,
# stopped again when the caller exits.
# With TEZ_SETUP=functions it only defines the functions (scripts/check).

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
  command -v unzip >/dev/null || packages+=(unzip)
  command -v zip >/dev/null || packages+=(zip)
  [ -f /usr/share/i18n/locales/ja_JP ] || packages+=(locales)
  apt_install "${packages[@]}"
  make_locale
}

# The program-start tests run again under code page 932, where a byte may be
# half a character; Wine takes the code page from the locale ja_JP.UTF-8.
make_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Making the locale ja_JP.UTF-8 (for the tests under code page 932)..."
  $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

# Installs the Debian packages named, if any.
apt_install() {
  [ $# -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing what is missing: $* (a first run downloads a few hundred MB)..."
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}

# Quiet when all is well; the whole build output when it is not.
build() {
  mkdir -p "$BUILD"
  echo "Building into $BUILD (the first build takes several minutes; output in build/build.log)..."
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
  WINE_STARTED=1
  local server
  server=$(wineserver_command)
  # Our own persistent server. One already running on this prefix is not a
  # script's (they hold the lock and stop theirs): it may end as soon as its
  # last process does, and a process started meanwhile fails. Replace it.
  if ! "$server" -p 2>/dev/null; then
    "$server" -k 2>/dev/null || true
    "$server" -w 2>/dev/null || true
    "$server" -p
  fi
  # The prefix's services start once, with every standard stream away from
  # ours, so that no test inherits them.
  [ -f "$WINEPREFIX/system.reg" ] || echo "Preparing a Wine prefix in $WINEPREFIX (a minute, once)..."
  if ! wine wineboot </dev/null >"$BUILD/wineboot.log" 2>&1; then
    cat "$BUILD/wineboot.log" >&2
    echo "Wine could not prepare its prefix $WINEPREFIX: wineboot failed (output above)." >&2
    exit 1
  fi
}

# One script at a time per build tree: another one's build would rewrite the
# programs under test (Wine then refuses to start them: "bad exe format"), and
# its end would stop the Wine server that our tests run on. A directory is the
# lock: unlike a locked file it is not inherited by the programs we start.
lock_build() {
  mkdir -p "$BUILD"
  local lock="$BUILD/.lock" owner announced=""
  until mkdir "$lock" 2>/dev/null; do
    owner=$(cat "$lock/pid" 2>/dev/null || true)
    if [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; then
      rm -rf "$lock" # its script ended without unlocking
      continue
    fi
    [ -n "$announced" ] || echo "Waiting for another script that uses $BUILD to finish..."
    announced=1
    sleep 1
  done
  echo $$ >"$lock/pid"
}

unlock_build() {
  if [ "$(cat "$BUILD/.lock/pid" 2>/dev/null)" = "$$" ]; then rm -rf "$BUILD/.lock"; fi
}

finish() {
  [ -z "${WINE_STARTED:-}" ] || stop_wine
  unlock_build
}
[ "${TEZ_SETUP:-}" = functions ] && return 0
trap finish EXIT
lock_build
install_missing
build
[ -n "${TEZ_NO_WINE:-}" ] || start_wine
