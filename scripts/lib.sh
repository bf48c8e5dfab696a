# Shared by scripts/test and scripts/demo. Source it; it defines functions and a few variables only.

ORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Everything the builds, the tests and the demo need, as Debian package names.
ORVANE_PACKAGES=(
  cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 libz-mingw-w64 python3-pefile
  valgrind clang-tidy clang-format libclang-rt-14-dev icoutils osslsigncode openssl
)

package_installed() {
  dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed$'
}

# Installs whichever of ORVANE_PACKAGES is missing; touches apt only when something is.
ensure_packages() {
  local missing=() package
  for package in "${ORVANE_PACKAGES[@]}"; do
    package_installed "$package" || missing+=("$package")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "installing missing packages: ${missing[*]}"
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    as_root=(sudo)
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" </dev/null
}

# The Python that has Debian's modules (pefile); a python3 earlier on PATH may be another installation.
orvane_python() {
  if [[ -n ${PYTHON:-} ]]; then
    echo "$PYTHON"
  elif [[ -x /usr/bin/python3 ]]; then
    echo /usr/bin/python3
  else
    command -v python3
  fi
}

# Wine must never find a display: a window could wait for a click that never comes.
wine_quiet_environment() {
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDEBUG=-all
}

# Configures and builds one preset; output goes to the given log file.
build_preset() {
  local preset=$1 log=$2
  (cd "$ORVANE_ROOT" && cmake --preset "$preset" && cmake --build --preset "$preset") >"$log" 2>&1
}
