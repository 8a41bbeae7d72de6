#!/usr/bin/env bash
# Installs the Debian packages that building, testing, running and
# photographing Maravex need, only when one of them is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev libxcb1-dev libplist-dev libtag1-dev libexiv2-dev libblkid-dev libudev-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  # scripts/check-layers.py (standard library only)
  python3
  # the sources from which the tests make a locale with a decimal comma
  # (localedef) where none is installed
  locales
  # scripts/screenshots.sh: a virtual X screen, a small window manager, a
  # background colour for the screen and a font that every window can use
  xvfb xauth openbox x11-xserver-utils fonts-dejavu-core adwaita-icon-theme
  # hover and right clicks in the search window's states
  xdotool
  # the removal tests' loop disks of every file system the kernel mounts,
  # and access lists on the folders that Restore makes
  e2fsprogs xfsprogs btrfs-progs acl
  # vfat images whose volume serial tells their disk, and vfat through
  # FUSE where the kernel has none
  dosfstools fusefat
  # exFAT through FUSE on a loop device, as the usual USB stick, whose
  # files keep no modes and are numbered anew at every mount
  exfat-fuse exfatprogs
  # ext4 through FUSE, whose files are numbered as the image says but
  # whose disk shows no identity of its own
  fuse2fs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
