#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# As root it installs what is missing; otherwise it only says what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5serialport5-dev qtmultimedia5-dev libqt5svg5-dev
  qttools5-dev-tools qttools5-dev
  libminizip-dev zlib1g-dev libssl-dev openssl libcpp-httplib-dev
  libqrencode-dev  # the QR code on tolvane-cli --station's label pictures
  clang libclang-rt-14-dev
  iproute2 util-linux unzip zip
  dpkg-dev  # dpkg-shlibdeps: the Debian package's dependencies
  libbenchmark-dev
  fonts-wqy-microhei  # Chinese texts in the form screenshots
  xvfb xdotool xauth  # real windowed programs in the end-to-end tests and the demo
  g++-mingw-w64-x86-64-posix  # the Windows side of the platform layer, compiled to check it
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing Debian packages (run as root to install them): ${missing[*]}" >&2
  exit 1
fi
