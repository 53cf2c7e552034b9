#!/usr/bin/env bash
# The Windows plug-in must sound like the Linux one: the probe renders the same test signal through
# the DLL under Wine and through the .so natively, and the two renders must agree within 1e-6.
#
# usage: render_matches_native.sh NATIVE_BUILD_DIR WINDOWS_PROBE WINDOWS_PLUGIN OUT_DIR WINE_RUN
#   NATIVE_BUILD_DIR  a build of the linux-release preset (its probe and plug-in are used)
set -euo pipefail

[ $# -eq 5 ] || { echo "usage: $0 NATIVE_BUILD_DIR WINDOWS_PROBE WINDOWS_PLUGIN OUT_DIR WINE_RUN" >&2; exit 2; }
native_build=$1
windows_probe=$2
windows_plugin=$3
out=$4
wine_run=$5

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
native_probe=$native_build/tools/vst_probe/vst_probe
native_plugin=$native_build/plugin/Lumisere.so

if [ ! -x "$native_probe" ] || [ ! -f "$native_plugin" ]; then
  cat >&2 <<EOF
No native render to compare with: $native_build has no vst_probe or Lumisere.so.
Build the Linux plug-in first (scripts/check does this before the Windows stage):
  cmake --preset linux-release && cmake --build --preset linux-release --target lumisere_vst vst_probe
EOF
  exit 1
fi
stale=$(find "$source_dir/src" "$source_dir/tools/vst_probe" -newer "$native_plugin" -type f -print -quit)
if [ -n "$stale" ]; then
  echo "note: $native_plugin is older than ${stale#"$source_dir"/}; if the renders differ, rebuild it first"
fi

windows_path() {
  local path
  path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${path//\//\\}"
}

mkdir -p "$out"
rm -f "$out/native.f32" "$out/windows.f32"
"$native_probe" --render "$out/native.f32" "$native_plugin"
"$wine_run" "$windows_probe" --render "$(windows_path "$out/windows.f32")" "$(windows_path "$windows_plugin")"
"$native_probe" --compare "$out/native.f32" "$out/windows.f32" 1e-6
