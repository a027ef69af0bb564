#!/usr/bin/env bash
# Makes the release packages in build/packages/: kestrune_VERSION_ARCH.deb for
# this machine, kestrune-VERSION-windows-i686.zip and
# kestrune-VERSION-windows-x86_64.zip (portable), and the per-user installers
# kestrune-VERSION-windows-i686.msi and kestrune-VERSION-windows-x86_64.msi.
# Usage: scripts/package.sh [deb] [zips] [msis]   (all when none is named)
#
# The same commit gives the same .deb, byte for byte, wherever it is checked
# out: every date is the commit's, build paths are mapped away, and the
# archive's members are sorted with fixed owners and modes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/packages
jobs=2
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb zips msis)

bash scripts/install-deps.sh windows package

SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
export QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH  # file times rcc embeds
export TZ=UTC LC_ALL=C.UTF-8
umask 022
mkdir -p "$out"

# Each member gets the commit's time and the modes a package expects.
normalise_tree() {
  local tree=$1
  find "$tree" -type d -exec chmod 0755 {} +
  find "$tree" -type f -exec chmod 0644 {} +
  find "$tree" -type f -path '*/bin/*' -exec chmod 0755 {} +
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The libraries the programs link, as package dependencies. dpkg-shlibdeps
# wants a source package's control file, and would rather see the files under
# debian/PACKAGE, which this staging tree does without.
library_dependencies() {
  local work
  work=$(mktemp -d)
  mkdir "$work/debian"
  printf 'Source: kestrune\n\nPackage: kestrune\nArchitecture: any\n' >"$work/debian/control"
  (cd "$work" && dpkg-shlibdeps -O "$@" 2> >(grep -v 'should already be installed' >&2)) |
    sed -n 's/^shlibs:Depends=//p'
  rm -rf "$work"
}

# Installed-Size as dpkg-gencontrol counts it: KiB per file, rounded up, and
# one for every directory.
installed_size() {
  find "$1" -mindepth 1 -printf '%y %s\n' |
    awk '{ total += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print total }'
}

build_deb() {
  local build=$root/build/package-deb
  local stage=$build/stage
  # From scratch: the dates embedded at build time (rcc's, for one) would
  # otherwise be those of whichever commit this tree was first built at.
  rm -rf "$build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCHMARKS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=." >/dev/null
  cmake --build "$build" -j "$jobs"
  rm -rf "$stage"
  DESTDIR=$stage cmake --install "$build" >/dev/null

  # As Debian's own packages: binaries stripped, manuals and changelog
  # compressed without a name or time in the header.
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage"/usr/bin/*
  find "$stage/usr/share/man" -type f -exec gzip -9n {} +
  gzip -9n "$stage/usr/share/doc/kestrune/changelog"

  local version arch depends
  version=$(project_version "$build")
  arch=$(dpkg --print-architecture)
  # The dialog loads a platform plugin for the desktop's display server at
  # run time; no library link names those packages.
  depends="$(library_dependencies "$stage"/usr/bin/*), qt6-qpa-plugins, qt6-wayland"
  normalise_tree "$stage"
  mkdir -m 0755 "$stage/DEBIAN"
  sed "/^Version:/a Architecture: $arch\\nInstalled-Size: $(installed_size "$stage")\\nDepends: $depends" \
    "$build/packaging/control" >"$stage/DEBIAN/control"
  (cd "$stage" && find usr -type f | sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
  normalise_tree "$stage/DEBIAN"

  local deb=$out/kestrune_${version}_${arch}.deb
  rm -f "$deb"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
  echo "made $deb ($(stat -c %s "$deb") bytes)"
}

# The program, its command-line companion, the README and the licence, with
# Windows line ends for the texts, staged in $windows_stage for the zip and
# the installer alike. Sets $version and $windows_name too.
windows_stage= windows_name=
stage_windows_programs() {
  local arch=$1
  local preset=windows-$arch triple
  case "$arch" in
    i686) triple=i686-w64-mingw32 ;;
    x86_64) triple=x86_64-w64-mingw32 ;;
  esac
  cmake --preset "$preset" -G Ninja >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target kestrune kestrune-cli
  version=$(project_version "build/$preset")

  windows_name=kestrune-$version-windows-$arch
  windows_stage=$root/build/package-zip/$windows_name
  rm -rf "$windows_stage" && mkdir -p "$windows_stage"
  cp "build/$preset/ui/win32/kestrune.exe" "build/$preset/cli/kestrune-cli.exe" "$windows_stage/"
  "$triple-strip" "$windows_stage"/*.exe
  sed 's/$/\r/' README.md >"$windows_stage/README.txt"
  sed 's/$/\r/' LICENSE >"$windows_stage/LICENSE.txt"
  normalise_tree "$windows_stage"
}

build_zip() {
  stage_windows_programs "$1"
  local zip=$out/$windows_name.zip
  rm -f "$zip"
  (cd "$(dirname "$windows_stage")" && find "$windows_name" -type f | sort | zip -q -X -D -9 "$zip" -@)
  echo "made $zip ($(stat -c %s "$zip") bytes)"
}

# The per-user installer from packaging/kestrune.wxs. wixl finds sources
# relative to the descriptor, so it is built where the programs are staged.
build_msi() {
  local arch=$1 msi_arch
  case "$arch" in
    i686) msi_arch=x86 ;;
    x86_64) msi_arch=x64 ;;
  esac
  stage_windows_programs "$arch"
  local work=$root/build/package-msi/$arch
  rm -rf "$work" && mkdir -p "$work"
  cp "$windows_stage"/* packaging/kestrune.wxs ui/resources/kestrune.ico "$work/"
  local msi=$out/$windows_name.msi
  rm -f "$msi"
  (cd "$work" && wixl -a "$msi_arch" -D Version="$version" -D Arch="$arch" -D BinDir=. \
    -D DocDir=. -D Icon=kestrune.ico -o "$msi" kestrune.wxs)
  echo "made $msi ($(stat -c %s "$msi") bytes)"
}

# As the build knows it from project().
project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    deb) build_deb ;;
    zips) for arch in i686 x86_64; do build_zip "$arch"; done ;;
    msis) for arch in i686 x86_64; do build_msi "$arch"; done ;;
    *) echo "package: unknown kind '$kind'" >&2; exit 2 ;;
  esac
done
