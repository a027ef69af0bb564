#!/usr/bin/env bash
# Installs what building and testing Kestrune needs on Debian 12, and nothing
# that is already there. Safe to run again and again.
# Usage: scripts/install-deps.sh [GROUP...], GROUP being fuzz, windows,
# package or desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
  util-linux  # script(1), for the CLI's terminal prompt test
  # The Qt dialog, and a font for it to measure and draw its texts with.
  qt6-base-dev fonts-dejavu-core
  libxcb1-dev  # the X event a destroyed window sends, which the dialog watches for
  # Its end-to-end test: a real X server, synthetic mouse and keys, a
  # screenshot, and a check of the desktop entry.
  xvfb xdotool imagemagick desktop-file-utils shared-mime-info
  # Its accessibility test: a private D-Bus session, the AT-SPI bus, the
  # Python bindings a screen reader reads the dialog with, and a clipboard
  # to paste from.
  dbus-daemon dbus-bin at-spi2-core python3-pyatspi xclip
  time  # GNU time: peak memory in scripts/bench.sh
  # Access rules and labels that outputs must keep, and a stop signal timed
  # to a chosen system call, in the CLI's tests.
  acl attr strace
)
# The multi-buffer record back end exists for x86-64 only; elsewhere OpenSSL
# codes the records and the build needs nothing more.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  packages+=(libipsec-mb-dev)
fi

# The 32-bit Windows build runs under Wine's 32-bit side, which Debian ships
# for the i386 architecture only.
add_i386_architecture() {
  dpkg --print-foreign-architectures | grep -qx i386 && return
  echo "Adding the i386 architecture for wine32"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# Optional groups, named on the command line.
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev xxd) ;;
    windows)
      mapfile -t windows_packages < <(grep -v '^#' scripts/windows-deps.txt | grep .)
      packages+=("${windows_packages[@]}")
      if [ "$(dpkg --print-architecture)" = amd64 ]; then
        add_i386_architecture
        packages+=(wine32:i386)
      fi
      ;;
    # Making the packages and checking them: dpkg-shlibdeps, the zips,
    # lintian, hardening-check, the metadata validators, and a scratch
    # Debian system to install the .deb into.
    package) packages+=(dpkg-dev zip unzip lintian devscripts appstream desktop-file-utils mmdebstrap) ;;
    # The desktop tests: GIO's and xdg-utils' view of the installed MIME
    # type, and the file managers they drive (with PCManFM's actions module).
    desktop) packages+=(libglib2.0-bin xdg-utils pcmanfm libfm-modules thunar dolphin) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
  --no-install-recommends "${missing[@]}"
