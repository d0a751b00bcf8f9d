#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the workspace needs and this
# machine lacks, and any further packages named as arguments. Safe to run
# again: it does nothing when all is present.
set -euo pipefail

packages=(
  g++ cmake pkg-config git libgtest-dev libgmock-dev libbenchmark-dev
  libyaml-cpp-dev libspdlog-dev libfmt-dev libsystemd-dev systemd bsdutils
  libsqlite3-dev libzstd-dev
)
# ament, colcon and rosidl come with a sourced ROS 2 (as on a robot), and
# Debian's would only shadow them; without one, Debian's build the stand-ins.
if [ -z "${ROS_DISTRO:-}" ]; then
  packages+=(
    ament-cmake ament-cmake-googletest
    colcon python3-colcon-ros python3-colcon-bash python3-colcon-output
    python3-colcon-package-selection python3-colcon-test-result
    python3-colcon-parallel-executor python3-colcon-library-path
    python3-colcon-package-information python3-colcon-defaults
    libament-index-cpp-dev
    rosidl-generator-c-cpp rosidl-tools librosidl-runtime-c-cpp-dev python3-ament-index
  )
fi
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing from Debian: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
