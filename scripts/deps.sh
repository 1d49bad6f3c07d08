#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# when any is missing. Runs apt-get update once, only when it must install.
set -euo pipefail

packages=(
  g++ cmake make pkg-config git
  libargtable2-dev libstb-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-can
  clang libclang-rt-14-dev
  groff man-db bash-completion dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
