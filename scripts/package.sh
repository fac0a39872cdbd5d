#!/usr/bin/env bash
# Builds the Debian package: a release build of the programs alone (no tests, no benchmarks)
# with Debian's compiler and linker hardening flags, for the prefix /usr, packed by CPack.
# Prints the path of kairelon_<version>_<architecture>.deb, left in the build folder
# (KAIRELON_PACKAGE_DIR, default build-deb/). Runs lintian on it when lintian is installed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
dir=${KAIRELON_PACKAGE_DIR:-$top/build-deb}

# dpkg-shlibdeps computes the dependencies from the libraries; CPack finds the programs with
# file.
KAIRELON_EXTRA_PACKAGES="dpkg-dev file ${KAIRELON_EXTRA_PACKAGES:-}" "$top/scripts/install-deps.sh"

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DKAIRELON_TESTS=OFF -DKAIRELON_BENCH=OFF -DKAIRELON_DEBIAN_DOCS=ON \
    "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "${launcher[@]}"
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/kairelon_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/kairelon_*.deb)

if command -v lintian >/dev/null 2>&1; then
    echo "==== lintian"
    lintian --info "$deb" || true
fi
echo "$deb"
