# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages every build and test needs; later subsystems add theirs here.
QVR_PACKAGES=(
  build-essential cmake ninja-build pkg-config python3 git
  libgtest-dev libgmock-dev libbenchmark-dev
  libfaad-dev libxml2-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev
  ffmpeg clang libclang-rt-14-dev
  xvfb xauth curl time xdotool imagemagick x11-apps desktop-file-utils man-db
)

install_missing() {
  local missing=()
  for p in "${QVR_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # Node.js (for the storage emulator) may come from elsewhere than Debian; only its commands matter.
  command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  if [ ! -f "$here/$dir/build.ninja" ]; then
    cmake -S "$here" -B "$here/$dir" -G Ninja "$@" >/dev/null
  fi
  cmake --build "$here/$dir" -j "$(nproc)"
}
