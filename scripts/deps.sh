# Sourced by the scripts: the Debian packages the project needs, and a
# function that installs whichever of them are missing.

BUILD_PACKAGES=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qcoro-qt6-dev
  nlohmann-json3-dev zlib1g-dev libprotobuf-c-dev protobuf-c-compiler libwebp-dev
  libsecret-1-dev libsystemd-dev
  libxcb1-dev libxcb-xtest0-dev libxcb-xkb-dev libxcb-xinput-dev libxcb-xfixes0-dev libxkbcommon-dev libxkbcommon-x11-dev xkb-data
)
TEST_PACKAGES=(
  libgtest-dev libgmock-dev
  gnome-keyring libsecret-tools dbus dbus-bin
  xvfb xauth xdotool wmctrl x11-xserver-utils x11-utils x11-xkb-utils openbox xterm copyq trayer
  libglib2.0-bin at-spi2-core python3-pyatspi
  python3-gi gir1.2-gtk-3.0 twm
)
BENCH_PACKAGES=(libbenchmark-dev)
# The clang build and its libFuzzer runtime, for the fuzz targets.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
RUN_PACKAGES=(gnome-keyring dbus-x11 xdg-utils)

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
