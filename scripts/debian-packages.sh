# Sourced by scripts/install-deps and scripts/install-bench-deps.

# install_missing_packages NAME PACKAGE...: installs those of the Debian packages that are not
# installed yet, announcing them as NAME. Returns apt-get's status, 0 when nothing was missing, so a
# second run is quick.
install_missing_packages() {
  local name=$1 package status
  shift
  local missing=()
  for package in "$@"; do
    # The status is taken whole, not piped into grep -q, whose early exit fails the pipeline under
    # pipefail now and then.
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0

  echo "$name: installing ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq && "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
}
