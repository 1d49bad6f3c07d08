#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# when any is missing, and the locales that the read-back tests' converters
# parse dates with, when missing.
# Runs apt-get update once, only when it must install.
set -euo pipefail

packages=(
  g++ cmake make pkg-config git
  libargtable2-dev libstb-dev nlohmann-json3-dev libisal-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-can can-utils tshark locales
  clang libclang-rt-14-dev
  groff man-db bash-completion dpkg-dev
  strace
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

# can-utils' asc2log sets the locales "de_DE" and "en_US" by these names to
# parse an ASC file's date line: the plain names (ISO-8859-1) are generated
# beside the UTF-8 ones. A locale is generated only when "locale -a" lacks
# it; its line in /etc/locale.gen is enabled, so that a later locale-gen
# keeps it.
locales=("de_DE ISO-8859-1:de_DE" "en_US ISO-8859-1:en_US" "de_DE.UTF-8 UTF-8:de_DE.utf8"
         "en_US.UTF-8 UTF-8:en_US.utf8")
wanted=()
for entry in "${locales[@]}"; do
  if ! locale -a 2>/dev/null | grep -qx "${entry#*:}"; then wanted+=("${entry%:*}"); fi
done
if ((${#wanted[@]})); then
  echo "Generating locales: ${wanted[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  for line in "${wanted[@]}"; do
    if grep -qx "# *$line" /etc/locale.gen; then
      "${sudo_cmd[@]}" sed -i "s/^# *$line\$/$line/" /etc/locale.gen
    elif ! grep -qx "$line" /etc/locale.gen; then
      echo "$line" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
  done
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
