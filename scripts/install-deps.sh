#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks; and generates the locales the language tests run in.
set -euo pipefail

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          binutils-mingw-w64-x86-64 wine wine64 xvfb xdotool x11-utils googletest procps
          clang-14 clang-tidy-14 nsis zip unzip osslsigncode openssl locales fonts-noto-cjk
          python3 python3-jsonschema python3-yaml)
# Wine shows a display language only for a locale the system has generated.
locales=(de_DE.UTF-8 ja_JP.UTF-8)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
# locale -a writes "de_DE.utf8" for de_DE.UTF-8.
ungenerated=()
for locale in "${locales[@]}"; do
  short="${locale%%.*}.utf8"
  { command -v locale >/dev/null && locale -a 2>/dev/null | grep -qx "$short"; } || ungenerated+=("$locale")
done
[ ${#missing[@]} -eq 0 ] && [ ${#ungenerated[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root, or install sudo, to install: ${missing[*]} ${ungenerated[*]}" >&2; exit 1; }
  sudo=sudo
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ${#ungenerated[@]} -gt 0 ]; then
  echo "Generating locales: ${ungenerated[*]}"
  for locale in "${ungenerated[@]}"; do
    # Uncommented if listed, added if not; locale-gen makes every line.
    line="$locale UTF-8"
    if grep -qx "# *$line" /etc/locale.gen 2>/dev/null; then
      $sudo sed -i "s/^# *$line\$/$line/" /etc/locale.gen
    elif ! grep -qx "$line" /etc/locale.gen 2>/dev/null; then
      echo "$line" | $sudo tee -a /etc/locale.gen >/dev/null
    fi
  done
  $sudo locale-gen >/dev/null
fi
