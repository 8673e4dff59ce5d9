#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
#   scripts/install-deps.sh [all|build|run]
# all (the default): everything the build, the tests, the benchmarks, the package and the
# screenshots need (make test, make deps). build: what building and packaging the Linux
# programs needs (make build, make package). run: only what building and running the window
# needs (make run).
set -euo pipefail

# Building ostrel and ostrel-sim: compiler, CMake, Qt, the dialog fonts, and GoogleTest,
# CLI11, nlohmann-json and libudev (the Linux backend's hotplug watch), which configuring
# the project needs.
run_packages=(
  build-essential dpkg-dev cmake ninja-build pkg-config
  libgtest-dev libcli11-dev nlohmann-json3-dev libudev-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra
)
# The Debian package: file, with which CPack finds the programs whose libraries
# dpkg-shlibdeps (dpkg-dev, above) turns into dependencies; Eclipse Paho C (with OpenSSL's
# headers, which its CMake package needs) and SQLite (its queue of readings) for ostrelctl mqtt.
build_packages=(
  "${run_packages[@]}"
  file libpaho-mqtt-dev libssl-dev libsqlite3-dev
)
# The tests (the kernel harness, with its guest's disk (mkfs.ext4 from e2fsprogs) and the
# sqlite3 and jq that read the store and the messages of its power cut, the window under
# Xvfb, the udev rule, the metadata, the
# manual pages), the format check and the lint (clang-format, shellcheck, clang-tidy), the
# fuzzers (clang's libFuzzer), the benchmarks, the packages' checks (lintian,
# hardening-check from devscripts, systemd-analyze from systemd, debootstrap for the bare
# root they are installed into), the metrics against Debian's Prometheus tools (promtool,
# node_exporter, curl), ostrelctl mqtt against a real broker and subscriber (mosquitto, its
# clients, openssl for the test's certificates, iproute2's ip for the network watch's
# namespace), the completions in their shells, the
# screenshots (a small window manager, openbox), and the Windows build
# (mingw-w64 cross compiler, Wine to run its tests, NSIS for its
# installer).
all_packages=(
  "${build_packages[@]}"
  clang clang-format clang-tidy shellcheck git libgmock-dev libbenchmark-dev
  qemu-system-x86 busybox-static e2fsprogs sqlite3 jq
  xvfb xauth imagemagick xdotool openbox x11-utils
  lintian devscripts man-db groff-base debootstrap
  desktop-file-utils appstream
  udev libhidapi-dev systemd
  prometheus prometheus-node-exporter curl
  mosquitto mosquitto-clients openssl iproute2
  bash-completion zsh fish
  g++-mingw-w64-x86-64-posix wine64 nsis
  fonts-wine
)

case "${1:-all}" in
  all) packages=("${all_packages[@]}") ;;
  build) packages=("${build_packages[@]}") ;;
  run) packages=("${run_packages[@]}") ;;
  *) echo "usage: $0 [all|build|run]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
