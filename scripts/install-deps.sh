# Shared by run.sh and test.sh: installs the Debian packages the build needs
# (clang only for the fuzzing harnesses; Xvfb, xdotool and ImageMagick only
# for the tests of the editor's window; assimp-utils only for the test that
# opens qxtool's glTF output in another program), running `apt-get update`
# once and only when something is missing.
VERMELLE_PACKAGES=(
  cmake ninja-build g++ pkg-config locales
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libosmesa6-dev
  libfltk1.3-dev
  xvfb xdotool imagemagick python3 assimp-utils
  clang-14 libclang-rt-14-dev
)

install_deps() {
  local missing=()
  for package in "${VERMELLE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
