# Shared by run.sh and test.sh: installs the Debian packages the build needs
# (clang only for the fuzzing harnesses; Xvfb, xdotool and ImageMagick only
# for the tests of the editor's window; assimp-utils only for the test that
# opens qxtool's glTF output in another program; Emscripten, Node and
# Chromium for the web viewer and its tests), running `apt-get update` once
# and only when something is missing; then the web viewer's npm packages
# (three, esbuild, playwright-core, pinned by control/package-lock.json)
# into control/node_modules.
VERMELLE_PACKAGES=(
  cmake ninja-build g++ pkg-config locales
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libosmesa6-dev
  libfltk1.3-dev
  xvfb xauth xdotool imagemagick python3 assimp-utils
  clang-14 libclang-rt-14-dev
  emscripten nodejs chromium
)

install_deps() {
  install_debian_packages
  install_web_packages
}

# npm comes with Node from some sources and as its own Debian package.
install_web_packages() {
  local wanted
  for wanted in three esbuild playwright-core; do
    [ -d "control/node_modules/$wanted" ] || break
    wanted=""
  done
  [ -z "$wanted" ] && return 0
  if ! command -v npm >/dev/null; then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq npm >/dev/null
  fi
  echo "Installing the web viewer's npm packages"
  (cd control && npm ci --no-audit --no-fund --loglevel=error)
}

install_debian_packages() {
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
