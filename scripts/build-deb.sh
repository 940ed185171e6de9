#!/usr/bin/env bash
# Builds the Debian package the Debian way (dpkg-buildpackage, dh with CMake) from a copy of the
# source tree, so the worktree and the presets' build folders stay untouched. The package is
# rebuilt only when a source file changed since the last build in the same folder.
# Usage: scripts/build-deb.sh [OUT-DIR]   (default build/package)
# Prints the path of the .deb as its last line; the .changes file lies beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/package}
mkdir -p "$out"
out=$(realpath "$out")
version=$(dpkg-parsechangelog -S Version)
deb=$out/quillmarsh_${version}_$(dpkg --print-architecture).deb

# The sources: what git tracks or would track, else every file outside the build folders. The
# package builds neither tests nor benchmarks and uses neither scripts nor presets, so changes
# there do not rebuild it.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
        [ -e "$f" ] && printf '%s\n' "$f"
    done
else
    find . \( -path ./build -o -path ./.git -o -path './obj-*' -o -path ./debian/quillmarsh \) -prune \
        -o -type f -print | sed 's|^\./||'
fi | grep -Ev '^(tests/|bench/|docs/|scripts/|\.ci/|\.[a-z-]+$|README\.md$|CMakePresets\.json$)' | LC_ALL=C sort >"$list"
hash=$(tar -c --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -T "$list" | sha256sum | cut -d' ' -f1)

if [ -f "$deb" ] && [ "$(cat "$out/source.sha256" 2>/dev/null)" = "$hash" ]; then
    echo "build-deb.sh: sources unchanged, keeping $deb" >&2
    echo "$deb"
    exit 0
fi

rm -rf "$out/src" "$out/source.sha256"
mkdir "$out/src"
tar -c -T "$list" | tar -x -C "$out/src"
(cd "$out/src" && dpkg-buildpackage -us -uc -b) >&2
echo "$hash" >"$out/source.sha256"
echo "$deb"
