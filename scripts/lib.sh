# Shared by scripts/test, scripts/demo and scripts/setup-wow64. Source it; it defines functions and a few
# variables only.

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

# debian_mirror: the address of the Debian archive that apt reads on this machine (or on the system tree at
# $ORVANE_APT_ROOT), so that a private apt list goes through the same mirror or proxy. It is the first source, in
# apt's order, of the release's own suite (VERSION_CODENAME of os-release) with the main component, from
# deb822 .sources files or one-line .list entries; the security archive serves other suites and never matches.
# Prints nothing when there is no such source.
debian_mirror() {
  local root=${ORVANE_APT_ROOT:-} codename files=() file
  # shellcheck source=/dev/null
  codename=$(. "$root/etc/os-release" 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || return 0
  [[ -f $root/etc/apt/sources.list ]] && files+=("$root/etc/apt/sources.list")
  for file in "$root"/etc/apt/sources.list.d/*; do
    [[ -f $file && ($file == *.list || $file == *.sources) ]] && files+=("$file")
  done
  ((${#files[@]} > 0)) || return 0
  awk -v codename="$codename" '
    function has(list, word) { gsub(/[ \t]+/, " ", list); return index(" " list " ", " " word " ") > 0 }
    function take(uri) { sub(/\/+$/, "", uri); print uri; found = 1; exit }
    # A deb822 stanza ends at a blank line or at the end of its file.
    function stanza_end(   n, i, u) {
      if (deb822 && has(f["types"], "deb") && !has(tolower(f["enabled"]), "no") &&
          has(f["suites"], codename) && has(f["components"], "main")) {
        n = split(f["uris"], u, " ")
        for (i = 1; i <= n; i++) take(u[i])
      }
      delete f
    }
    FNR == 1 { stanza_end(); deb822 = FILENAME ~ /\.sources$/ }
    /^[ \t]*#/ { next }
    deb822 && /^[ \t]*$/ { stanza_end(); next }
    deb822 && /^[A-Za-z-]+:/ {
      key = tolower(substr($0, 1, index($0, ":") - 1))
      f[key] = substr($0, index($0, ":") + 1)
      next
    }
    deb822 && /^[ \t]/ { f[key] = f[key] " " $0; next }
    !deb822 {
      line = $0
      sub(/#.*/, "", line)
      gsub(/\[[^]]*\]/, " ", line)  # options such as [signed-by=...]
      n = split(line, w, " ")
      if (n < 4 || w[1] != "deb" || w[3] != codename) next
      for (i = 4; i <= n; i++) if (w[i] == "main") take(w[2])
    }
    END { if (!found) stanza_end() }
  ' "${files[@]}"
}
