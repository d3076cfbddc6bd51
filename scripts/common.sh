# Shared by ./run and ./test: install what the build needs, configure and build.
# Sourced, not run; expects ROOT to be the source folder.

ONDREL_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libswscale-dev
  libswresample-dev libavdevice-dev libsdl2-dev
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)

ondrel_missing_packages() {
  local pkg
  for pkg in "${ONDREL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || echo "$pkg"
  done
}

ondrel_install_packages() {
  local missing
  missing=$(ondrel_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing: $(echo $missing)" >&2
    echo "Install them as root (sudo apt-get install $(echo $missing)), or run this command as root." >&2
    return 1
  fi
  echo "Installing: $(echo $missing)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null || { echo "apt-get update failed" >&2; return 1; }
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null || {
    echo "apt-get install failed for: $(echo $missing)" >&2
    return 1
  }
}

# ondrel_build BUILD_DIR [extra cmake arguments...]: configure and build, quietly unless it fails.
ondrel_build() {
  local dir=$1
  shift
  mkdir -p "$dir"
  local log="$dir/setup.log"
  if ! cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Configuring failed; the whole log is in $log" >&2
    return 1
  fi
  if ! cmake --build "$dir" -j 2 >>"$log" 2>&1; then
    grep -E -A 12 'error|FAILED' "$log" | head -n 80 >&2
    echo "The build failed; the whole log is in $log" >&2
    return 1
  fi
}
