#!/usr/bin/env bash
# Builds the Debian package build-package/tamberlin_<version>_amd64.deb from a clean Release
# build in build-package/ (preset "package"), with Debian's hardening flags, then runs lintian
# on it. Dependencies are computed from the binaries by dpkg-shlibdeps.
# Usage: scripts/package.sh
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/deps.sh package

# The flags Debian builds its packages with (fortified, stack protector, full RELRO, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

echo "Building from scratch in build-package/"
rm -rf build-package
cmake --preset package >/dev/null
cmake --build --preset package
echo "Making the package"
(cd build-package && cpack -G DEB >cpack.log 2>&1) || {
    cat build-package/cpack.log >&2
    echo "$0: cpack failed" >&2
    exit 1
}
deb=$(ls build-package/tamberlin_*_amd64.deb)
echo "Built $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "lintian $deb"
# Errors fail the run; the warnings we accept are listed, with why, in docs/packaging.md.
lintian --info --display-level '>=info' --fail-on error "$deb"
echo "$deb"
