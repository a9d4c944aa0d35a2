# Shared by run.sh and test.sh: installs the Debian packages the build needs
# (clang only for the fuzzing harnesses; Emscripten and Node for the web
# viewer's WebAssembly decoder and its tests), running `apt-get update` once
# and only when something is missing.
VERMELLE_PACKAGES=(
  cmake ninja-build g++ pkg-config locales
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libosmesa6-dev
  clang-14 libclang-rt-14-dev
  emscripten nodejs
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
