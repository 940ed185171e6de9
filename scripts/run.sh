#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it. Arguments go to the program
# (the first one, all of them joined, is the initial account name).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target quillmarsh
exec build/default/app/qt/quillmarsh "$@"
