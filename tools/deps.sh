# Sourced by the scripts in tools/: makes sure the build tools are there.
# As root it installs what is missing from Debian's packages; otherwise it
# stops with the command to run.
fcloak_need() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  missing+=("$@")
  local wanted=()
  for p in "${missing[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || wanted+=("$p")
  done
  [ ${#wanted[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${wanted[@]}" >/dev/null
  else
    echo "fcloak needs: ${wanted[*]}. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${wanted[*]}" >&2
    exit 1
  fi
}
