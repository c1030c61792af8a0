#!/usr/bin/env bash
# Installs from Debian what building, running and testing need; does nothing
# when everything is there already. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libxvidcore-dev libopus-dev
  libsrtp2-dev nettle-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev clang-format
  libpng-dev libswscale-dev
  libpulse-dev libspeexdsp-dev pulseaudio pulseaudio-utils
  coturn
  ffmpeg tshark
  iproute2 nftables binutils
  systemd strace
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
# tshark asks whether non-root users may capture; answer no.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${missing[@]}" >/dev/null
