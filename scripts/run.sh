#!/usr/bin/env bash
# Installs what building the program needs, builds its Debian package, installs that with apt
# and starts the installed program as you. The arguments, joined, are the initial account name.
# Packages are installed through sudo when you are not root; the program itself never is: it
# uses your own display and your own Kerberos ticket, and changes to this computer's own
# accounts ask for an administrator's authorization (polkit) when first needed.
# The package is rebuilt only when a source file changed, and reinstalled only when rebuilt.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "run.sh: installing packages needs root: run it as root or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi

scripts/install-deps.sh build
deb=$(scripts/build-deb.sh build/package | tail -n 1)

stamp=build/package/installed.sha256
sum=$(sha256sum "$deb" | cut -d' ' -f1)
installed=$(dpkg-query -W -f='${Status}' quillmarsh 2>/dev/null || true)
if [ "$installed" != "install ok installed" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$sum" ]; then
    # --reinstall: a rebuilt package keeps its version number, which apt alone would skip.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --reinstall "$(realpath "$deb")"
    echo "$sum" >"$stamp"
fi

exec /usr/bin/quillmarsh "$@"
