#!/usr/bin/env bash
# Installs every Debian package the build and the test suites need (scripts/packages/*.txt).
# Usage: scripts/install-deps.sh [build|all]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
if [ "$what" = build ]; then
    lists=(scripts/packages/build.txt)
else
    lists=(scripts/packages/*.txt)
fi
mapfile -t packages < <(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
