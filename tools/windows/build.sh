#!/bin/sh
# Pellucor for Windows, on Debian: the toolchain (built once per machine and
# then reused), the Windows tree in build-windows, the installer, and every
# test of the tree under Wine, the installer's among them.
set -eu
cd "$(dirname "$0")/../.."
sh tools/windows/toolchain.sh
cache=$(sh tools/windows/toolchain.sh --print)

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLUCOR_WARNINGS_AS_ERRORS=$werror \
    -DCMAKE_TOOLCHAIN_FILE="$cache/qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DPELLUCOR_WINDOWS_GHOSTSCRIPT="$cache/gs/bin/gs.exe" \
    -DJPEG_INCLUDE_DIR="$cache/deps/include" -DJPEG_LIBRARY="$cache/deps/lib/libjpeg.a"
cmake --build build-windows --parallel "$(nproc)"
(cd build-windows && cpack -G NSIS >/dev/null)
installer=$(ls "$PWD"/build-windows/Pellucor-*-win64.exe)

# The tree's Wine prefix, made once; its services run before CTest starts,
# or CTest would wait on the pipes they inherit.
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot -i >/dev/null 2>&1
status=0
(cd build-windows && ctest --output-on-failure) || status=$?
wineserver -k || true
echo "Installer: $installer"
exit $status
