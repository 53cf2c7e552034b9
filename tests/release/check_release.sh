#!/usr/bin/env bash
# Checks what `make release` and `make install` give a user, as a user would meet it:
#   1. make install into a prefix and into a staging root (paths with a space and an ampersand) lays
#      out exactly the expected files; the installed plug-ins load from there; make uninstall removes
#      both installs, and fails when it finds nothing of an install it should remove.
#   2. The Debian package: its contents and control fields, the files in place when unpacked into a
#      scratch root, the plug-in loading from there, and lintian without errors.
#   3. The Windows installer under Wine: a silent install puts the DLL in the common VST2 folder and
#      registers the uninstaller, and takes away the copy an earlier install put elsewhere; a folder on
#      a missing drive fails; the project's Windows host harness loads the installed DLL and renders
#      the test signal as the Linux plug-in does; the registered quiet uninstall has removed everything
#      when it returns.
#   4. A second release of the same commit, relinked, gives the same files (SHA256SUMS).
# Run by `scripts/check release` after `scripts/release`.
set -euo pipefail
cd "$(dirname "$0")/../.."

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
probe=build/linux-release/tools/vst_probe/vst_probe
work=$(mktemp -d)
# The tree's own install records are set aside, so that make uninstall here removes only what was
# installed here.
records=build/linux-release/installs
[ ! -d "$records" ] || mv "$records" "$work/records"
trap 'rm -rf "$records"; [ ! -d "$work/records" ] || mv "$work/records" "$records"; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Output is matched with `grep -q PATTERN <<<"$(command)"`, never `command | grep -q`: grep -q stops
# reading at the first match, and under pipefail the writer's broken pipe would count as a failure.

# expect_files ROOT LIST: the regular files and links below ROOT are exactly those in LIST.
expect_files() {
  local root=$1 expected=$2 actual
  actual=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
  if [ "$actual" != "$(sort <<<"$expected")" ]; then
    fail "files below $root:"
    diff <(sort <<<"$expected") <(echo "$actual") >&2 || true
  fi
}
have_lv2=false
[ -d build/linux-release/lv2/Lumisere.lv2 ] && have_lv2=true

system_files="usr/bin/lumisere
usr/lib/vst/Lumisere.so
usr/share/man/man1/lumisere.1.gz"
if $have_lv2; then
  system_files+=$'\n'"$(cd build/linux-release/lv2 && find Lumisere.lv2 -type f | sed 's|^|usr/lib/lv2/|')"
fi

echo "==> make install / make uninstall: a prefix, then a staging root"
prefix="$work/my prefix & co"
stage="$work/st age&co"
make --no-print-directory install PREFIX="$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "make install PREFIX='$prefix'"; }
DESTDIR=$stage make --no-print-directory install PREFIX=/usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "make install"; }
expect_files "$prefix" "$(sed 's|^usr/||' <<<"$system_files")"
expect_files "$stage" "$system_files"
grep -q 'Ostrel Lumisere' <<<"$("$probe" "$stage/usr/lib/vst/Lumisere.so")" || fail "the installed plug-in does not load"
"$stage/usr/bin/lumisere" params >/dev/null || fail "the installed tool does not run"

# One version everywhere: the tool, the plug-in's version fields (1.2.3 is 1203), the packages.
IFS=. read -r major minor patch <<<"$version"
number=$((major * 1000 + minor * 100 + patch))
grep -q "^lumisere $version " <<<"$("$stage/usr/bin/lumisere" --version)" || fail "lumisere --version is not $version"
grep -q "version $number  vendor version $number" <<<"$("$probe" "$stage/usr/lib/vst/Lumisere.so")" ||
  fail "the plug-in's version fields are not $number"
if $have_lv2; then
  grep -q 'Ostrel Lumisere' <<<"$(LV2_PATH=$stage/usr/lib/lv2 lv2info https://ostrel-audio.example/plugins/lumisere)" ||
    fail "lv2info does not see the installed bundle"
fi
# Both installs are removed; the second one, gone already, is an error that names it.
rm -rf "$stage"
make --no-print-directory uninstall >"$work/uninstall.log" 2>&1 && fail "make uninstall found nothing of an install and succeeded"
grep -qF "the install into /usr below $stage was not removed" "$work/uninstall.log" || fail "make uninstall: $(cat "$work/uninstall.log")"
[ -z "$(find "$prefix" -type f)" ] || fail "make uninstall left $(find "$prefix" -type f | tr '\n' ' ')"
# Put the build's own install layout back (make install reconfigured it).
cmake --preset linux-release -DLUMISERE_INSTALL_LAYOUT=system >/dev/null

echo "==> the Debian package"
deb=dist/ostrel-lumisere_${version}_amd64.deb
dpkg-deb --info "$deb" >"$work/info"
for field in "Package: ostrel-lumisere" "Version: $version" "Architecture: amd64" "Section: sound"; do
  grep -q "^ $field\$" "$work/info" || fail "control field '$field' missing"
done
for library in libsndfile1 libcairo2 libx11-6 libc6; do
  grep -q "^ Depends:.*\\b$library\\b" "$work/info" || fail "no dependency on $library"
done
mkdir -p "$work/root"
dpkg-deb -x "$deb" "$work/root"
expect_files "$work/root" "$system_files
usr/share/doc/ostrel-lumisere/changelog.gz
usr/share/doc/ostrel-lumisere/copyright"
[ "$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort)" = \
  "$(cd "$work/root" && find . -type f | sed 's|^\./||' | sort)" ] || fail "dpkg-deb --contents disagrees with the unpacked files"
grep -q 'Ostrel Lumisere' <<<"$("$probe" "$work/root/usr/lib/vst/Lumisere.so")" || fail "the packaged plug-in does not load"
# Built hardened (-z now, fortified functions), it renders what the plain build renders.
"$probe" --render "$work/native.f32" build/linux-release/plugin/Lumisere.so >/dev/null
"$probe" --render "$work/packaged.f32" "$work/root/usr/lib/vst/Lumisere.so" >/dev/null
"$probe" --compare "$work/native.f32" "$work/packaged.f32" 0 >/dev/null || fail "the packaged plug-in renders differently"
lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1 || true
if grep -q '^E:' "$work/lintian"; then
  fail "lintian reports errors"
  grep '^E:' "$work/lintian" >&2
fi
echo "   lintian warnings: $(grep -c '^W:' "$work/lintian" || true)"
if grep -E 'maintscript-calls-ldconfig|hardening-no-' "$work/lintian" >&2; then fail "lintian: ldconfig calls or unhardened binaries"; fi

echo "==> the Windows installer under Wine"
export LUMISERE_WINEPREFIX=$work/wine
wine_probe=build/windows/tools/vst_probe/vst_probe.exe
installer=dist/LumisereSetup-$version.exe
installed='C:\Program Files\Common Files\VST2\Lumisere.dll'
scripts/wine-run "$installer" /S '/D=C:\Plugins\VST2' || fail "the silent install into C:\Plugins\VST2"
[ -f "$work/wine/drive_c/Plugins/VST2/Lumisere.dll" ] || fail "no DLL in C:\Plugins\VST2"
scripts/wine-run "$installer" /S || fail "the silent install"
unix_dll=$work/wine/drive_c/Program\ Files/Common\ Files/VST2/Lumisere.dll
[ -f "$unix_dll" ] || fail "no DLL at $installed"
[ ! -e "$work/wine/drive_c/Plugins/VST2/Lumisere.dll" ] || fail "the install left the earlier install's copy"
scripts/wine-run "$installer" /S '/D=Q:\Plugins\VST2' && fail "a silent install to a missing drive succeeded"
cmp -s "$unix_dll" build/windows/plugin/Lumisere.dll || fail "the installed DLL is not the built one"
[ -f "$work/wine/drive_c/Program Files/Ostrel Audio/Lumisere/Uninstall.exe" ] || fail "no uninstaller"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OstrelLumisere'
reg_query() { WINEPREFIX=$work/wine WINEDEBUG=-all wine reg query "$@" </dev/null >/dev/null 2>&1; }
reg_query "$uninstall_key" /v QuietUninstallString || fail "no uninstall entry in the registry"
scripts/wine-run "$wine_probe" --render 'Z:'"${work//\//\\}"'\installed.f32' "$installed" >/dev/null ||
  fail "the host harness cannot render through the installed DLL"
"$probe" --compare "$work/native.f32" "$work/installed.f32" 0 >/dev/null ||
  fail "the installed DLL does not render what the Linux plug-in renders"
scripts/wine-run "$work/wine/drive_c/Program Files/Ostrel Audio/Lumisere/Uninstall.exe" /S \
  '_?=C:\Program Files\Ostrel Audio\Lumisere' || fail "the silent uninstall"
[ ! -e "$unix_dll" ] || fail "the uninstaller left the DLL"
[ ! -e "$work/wine/drive_c/Program Files/Ostrel Audio" ] || fail "the uninstaller left its folder"
reg_query "$uninstall_key" && fail "the uninstaller left its registry entry"
WINEPREFIX=$work/wine timeout 60 wineserver -w 2>/dev/null || true

echo "==> a second release of the same commit, relinked"
cp dist/SHA256SUMS "$work/SHA256SUMS"
rm -f build/windows/plugin/Lumisere.dll build/package/plugin/Lumisere.so build/package/lv2/Lumisere.lv2/*.so \
  build/package/tools/lumisere/lumisere
scripts/release >"$work/release.log" 2>&1 || { cat "$work/release.log" >&2; fail "the second make release"; }
diff "$work/SHA256SUMS" dist/SHA256SUMS >&2 || fail "two releases of one commit differ"

if [ "$failures" -gt 0 ]; then
  echo "release checks: $failures failed" >&2
  exit 1
fi
echo "release checks: all passed"
