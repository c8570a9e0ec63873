#!/usr/bin/env bash
# Installs what building and testing the saver needs, from Debian's packages. Says
# nothing when everything is already there; safe to run any number of times. Given
# package names, it sees to those only (the packaging script needs just a few).
set -euo pipefail

packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64   # the two cross compilers, windres and objdump
  googletest                                # GoogleTest sources, built in the cross build
  wine64 xvfb xauth                         # 64-bit Wine on a virtual display
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav   # DirectShow playback in Wine
  libgl1-mesa-dri libglx-mesa0              # Direct3D 9 on Mesa's software renderer
  imagemagick x11-apps xdotool              # screenshots and input for the run script
)
[ $# -gt 0 ] && packages=("$@")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}; run this as root (or with sudo) to install them" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
