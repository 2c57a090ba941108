#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Telvara need.
# Packages already present are not fetched again.
set -euo pipefail

packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev nlohmann-json3-dev libmicrohttpd-dev libgnutls28-dev)
if [ "${1:-}" = "--tests" ]; then
  packages+=(chromium mgetty-voice mgetty-pvftools)
  command -v node >/dev/null 2>&1 || packages+=(nodejs)
  command -v npm >/dev/null 2>&1 || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
