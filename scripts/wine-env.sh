# Sourced by the scripts that run Windows programs: a private Wine prefix and home under the
# build tree, a persistent wineserver and an X display (Xvfb on a free display number when
# there is none, or always with LAUNCHER_XVFB=1).
#   wine_env_start <state-dir>   exports WINEPREFIX, HOME, DISPLAY, ...; boots the prefix once
#   wine_env_stop                stops the wineserver and the Xvfb started here

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The Windows programs this machine's Wine runs: i686 where the kernel runs 32-bit code (Wine's
# 32-bit loader starts), x86_64 where it does not (some virtual machines have no 32-bit mode).
# There the tests and the demo run a 64-bit build of the same sources under wine64.
# LAUNCHER_WINE_ARCH overrides the probe.
wine_host_arch() {
  if [ -n "${LAUNCHER_WINE_ARCH:-}" ]; then
    echo "$LAUNCHER_WINE_ARCH"
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo i686
  else
    echo x86_64
  fi
}

# The CMake toolchain file for programs this machine's Wine runs.
wine_toolchain() {
  echo "$_wine_env_root/cmake/mingw-$(wine_host_arch).cmake"
}

# The build of what ships (i686) beside the build this machine's Wine runs. Where Wine runs
# 32-bit programs the two are one tree and nothing is built here; where it does not, the i686
# tree is <build-dir>/i686, configured and built for the targets named (the files that ship and
# that checks read without running them). Prints the shipped tree's path; its output is on
# stderr, so that callers can take the path with $(...).
#   wine_shipped_build <build-dir> <target>...
wine_shipped_build() {
  local build_dir=$1
  shift
  if [ "$(wine_host_arch)" != x86_64 ]; then
    echo "$build_dir"
    return 0
  fi
  local shipped_dir="$build_dir/i686"
  # The shipped build carries the brand the test tree was configured with.
  local brand brand_args=()
  brand=$(sed -n 's/^LAUNCHER_BRAND:FILEPATH=//p' "$build_dir/CMakeCache.txt" 2>/dev/null || true)
  [ -z "$brand" ] || brand_args=(-DLAUNCHER_BRAND="$brand")
  cmake -S "$_wine_env_root" -B "$shipped_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$_wine_env_root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release "${brand_args[@]}" >&2 || return 1
  cmake --build "$shipped_dir" -j"${LAUNCHER_BUILD_JOBS:-$(nproc)}" --target "$@" >&2 || return 1
  echo "$shipped_dir"
}

wine_env_start() {
  local state_dir=$1
  mkdir -p "$state_dir/home"
  export WINEPREFIX="$state_dir/prefix"
  export HOME="$state_dir/home"
  if [ "$(wine_host_arch)" = x86_64 ]; then
    export WINEARCH=win64
    export PATH="$_wine_env_root/scripts/wine64-bin:$PATH"
  else
    export WINEARCH=win32
  fi
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=C.UTF-8
  # WinINet must never reach past loopback; a proxy is set per test where one is wanted.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

  WINE_ENV_XVFB_PID=""
  if [ -z "${DISPLAY:-}" ] || [ "${LAUNCHER_XVFB:-}" = 1 ]; then
    # Xvfb picks a free display number itself and writes it to the file: no race with other
    # test runs starting at the same moment.
    local number_file n i
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    WINE_ENV_XVFB_PID=$!
    for i in $(seq 1 100); do
      n=$(head -n 1 "$number_file" 2>/dev/null | tr -dc 0-9)
      [ -n "$n" ] && break
      sleep 0.1
    done
    rm -f "$number_file"
    [ -n "$n" ] || { echo "wine-env: Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$n"
    xdpyinfo >/dev/null 2>&1 || { echo "wine-env: Xvfb did not start on :$n" >&2; return 1; }
  fi

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: creating the Wine prefix $WINEPREFIX" >&2
    timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; return 1; }
    timeout 120 wineserver -w
  fi
  # A persistent server makes every later `wine prog.exe` start fast.
  wineserver -p
  # Start Wine's own background processes now, detached from any caller's output pipes.
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  wine_env_fonts "$state_dir" ||
    echo "wine-env: the font set-up failed; it is tried again next time" >&2
  export WINE_ENV_STATE_DIR="$state_dir"
}

# The face that stands in for SimSun (宋体), which is not installed here. Left to itself the font
# mapper picks a CJK fallback face without Latin letters, which shows the Latin product name as
# boxes. AR PL UMing is a Song face like SimSun, with both scripts; WenQuanYi Zen Hei, used
# before, is a Hei face that Wine draws at 14 px unhinted and unsmoothed, losing strokes.
LAUNCHER_SONG_FACE='AR PL UMing CN'
export LAUNCHER_SONG_FACE

# Brings the prefix's font set-up to the current one: the stamp names what was applied, so a
# prefix made before a change is updated on its next use, and an up-to-date one costs nothing.
wine_env_fonts() {
  local state_dir=$1 stamp face
  stamp="replacement=$LAUNCHER_SONG_FACE; bitmaps"
  [ "$(cat "$state_dir/fonts-configured" 2>/dev/null)" = "$stamp" ] && return 0
  for face in '宋体' 'SimSun'; do
    timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
      /d "$LAUNCHER_SONG_FACE" /f </dev/null >/dev/null 2>&1 || return 1
  done
  # SimSun draws 12 to 16 px from built-in bitmaps, crisp and black; with smoothing off Wine
  # takes the stand-in's own bitmaps, which look almost the same (smoothed, the text is light
  # grey). Wine reads this from fontconfig, not from the registry, and for every face alike, so
  # the dialogs' other text is unsmoothed too, as Chinese Windows draws it from bitmap fonts.
  # The file is in the prefix's private home only.
  mkdir -p "$HOME/.config/fontconfig"
  cat >"$HOME/.config/fontconfig/fonts.conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <match target="font">
    <edit name="antialias" mode="assign"><bool>false</bool></edit>
  </match>
</fontconfig>
CONF
  printf '%s\n' "$stamp" >"$state_dir/fonts-configured"
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
    kill "$WINE_ENV_XVFB_PID" >/dev/null 2>&1 || true
    wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    WINE_ENV_XVFB_PID=""
  fi
}

# The Windows path (Z:\...) of a file of this machine.
wine_path() {
  local p
  p=$(readlink -f "$1")
  printf 'Z:%s' "${p//\//\\}"
}
