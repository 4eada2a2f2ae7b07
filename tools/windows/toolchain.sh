#!/bin/sh
# Builds what the Windows build of Pellucor needs, on Debian, from Debian's
# packages and source packages only: Qt's qtbase (what Pellucor uses) and
# Ghostscript with the libraries it needs, for x86_64-w64-mingw32, into a
# cache outside the tree: $PELLUCOR_WINDOWS_CACHE, by default
# ~/.cache/pellucor-windows. Does nothing when the cache is current.
#
#   tools/windows/toolchain.sh          build what is missing or out of date
#   tools/windows/toolchain.sh --print  print the cache folder
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${PELLUCOR_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pellucor-windows}
if [ "${1:-}" = "--print" ]; then
    echo "$cache"
    exit 0
fi
jobs=$(nproc)
target=x86_64-w64-mingw32
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The cross compilers and tools, Wine to run what they make (64-bit only:
# the installer is a 64-bit program too), NSIS to pack it, and what its
# tests use: a virtual display, a hand on it, and the fonts the offscreen
# tests draw with.
packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev libz-mingw-w64 cmake ninja-build
          perl dpkg-dev autoconf automake libtool pkg-config qt6-base-dev qt6-base-dev-tools nsis wine64
          xvfb xauth xdotool x11-utils imagemagick fonts-liberation"
# shellcheck disable=SC2086
sh "$here/../install-packages.sh" $packages

# The source packages. The host's Qt tools must be qtbase's own version.
sources="qt6-base ghostscript libjpeg-turbo lcms2 freetype libpng1.6"
versions() {
    for source in $sources; do
        apt-cache showsrc "$source" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1 | sed "s/^/$source /"
    done
}
if ! apt-cache showsrc qt6-base >/dev/null 2>&1 || [ -z "$(apt-cache showsrc qt6-base 2>/dev/null)" ]; then
    # Debian's source packages, from the same archive and suites as the machine's packages.
    list=/etc/apt/sources.list.d/pellucor-deb-src.sources
    uris=$(grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | cut -d' ' -f2-)
    suites=$(grep -h '^Suites:' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | cut -d' ' -f2-)
    [ -n "$uris" ] || uris=http://deb.debian.org/debian
    [ -n "$suites" ] || suites=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uris" "$suites" | $sudo tee "$list" >/dev/null
    $sudo apt-get update || echo "apt-get update failed; the source packages may be missing" >&2
fi
# What the cache is built from: the source packages' versions, the build
# below and its patches (not the packages above, which only the machine has).
stamp=$( (versions; sed -n '/^# The build$/,$p' "$0"; cat "$here"/patches/* "$here"/mingw-w64-x86_64.cmake) | sha256sum | cut -d' ' -f1)
if [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$stamp" ]; then
    echo "Windows toolchain current in $cache"
    exit 0
fi
# The build
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | cut -d+ -f1)
source_qt=$(versions | sed -n 's/^qt6-base //p' | cut -d+ -f1)
if [ "$host_qt" != "$source_qt" ]; then
    echo "The host's Qt tools are $host_qt, qtbase's source is $source_qt: they must be the same." >&2
    exit 1
fi

echo "Building the Windows toolchain in $cache"
rm -rf "$cache/src" "$cache/qt" "$cache/gs" "$cache/deps" "$cache/stamp" "$cache/mingw-w64-x86_64.cmake"
mkdir -p "$cache/src"
cd "$cache/src"
# shellcheck disable=SC2086
apt-get source --download-only $sources
for dsc in *.dsc; do
    dpkg-source --no-check -x "$dsc" "$(basename "$dsc" | cut -d_ -f1)" >/dev/null
done
# Qt's own toolchain file loads this one by its absolute path: it lives in the
# cache, so that the cache does not depend on where the tree was cloned.
toolchain="$cache/mingw-w64-x86_64.cmake"
cp "$here/mingw-w64-x86_64.cmake" "$toolchain"
deps="$cache/deps"

# qtbase: Core, Gui, Widgets, Test and the platform, style and image plugins.
# Debian's tarball has no wintab (tablet events), and the OpenGL switches go
# together; the rasteriser needs a patch against MinGW's setjmp.
(cd qt6-base && patch -p1 -s < "$here/patches/qtbase-qgrayraster-mingw.patch")
cmake -S qt6-base -B build-qt -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$cache/qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_pkg_config=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF \
    -DFEATURE_fontconfig=OFF -DFEATURE_zstd=OFF -DFEATURE_system_zlib=OFF >/dev/null
cmake --build build-qt --parallel "$jobs"
cmake --install build-qt >/dev/null

# Ghostscript's libraries, static, the versions the Linux gs links.
cmake -S libjpeg-turbo -B build-jpeg -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >/dev/null
cmake --build build-jpeg --parallel "$jobs" && cmake --install build-jpeg >/dev/null
cmake -S libpng1.6 -B build-png -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF >/dev/null
cmake --build build-png --parallel "$jobs" && cmake --install build-png >/dev/null
cmake -S freetype -B build-freetype -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_SHARED_LIBS=OFF -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON >/dev/null
cmake --build build-freetype --parallel "$jobs" && cmake --install build-freetype >/dev/null
(cd lcms2 && ./configure --host=$target --prefix="$deps" --disable-shared --enable-static >/dev/null \
    && make -j"$jobs" >/dev/null && make install >/dev/null)

# Ghostscript: the interpreter and the devices Pellucor uses, its resources
# and fonts compiled in, linked static so that it needs no DLL beside it
# (Wine would find Debian's zlib1.dll; Windows would not). Debian's cross-compiling fix is to configure.ac, so
# configure is made again.
# MinGW's zlib has no pkg-config file, which configure asks for.
mkdir -p "$deps/lib/pkgconfig"
printf 'prefix=/usr/%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\n\nName: zlib\nDescription: zlib\nVersion: 1.2.13\nLibs: -L${libdir} -lz\nCflags: -I${includedir}\n' \
    "$target" > "$deps/lib/pkgconfig/zlib.pc"
cd ghostscript
patch -p1 -s < "$here/patches/ghostscript-mingw-setenv.patch"
autoreconf -fi >/dev/null 2>&1
PKG_CONFIG_LIBDIR="$deps/lib/pkgconfig" ./configure --build=x86_64-pc-linux-gnu --host=$target \
    CC=$target-gcc-posix CCAUX=gcc CFLAGSAUX= PKGCONFIG=pkg-config \
    CPPFLAGS="-I$deps/include" LDFLAGS="-L$deps/lib -static" \
    --prefix="$cache/gs" --with-arch_h="$PWD/arch/windows-x64-msvc.h" --with-exe-ext=.exe \
    --without-pdf --without-xps --without-pcl --without-gpdl --without-jbig2dec --disable-openjpeg \
    --without-libtiff --without-libidn --without-libpaper --without-ijs --without-x --disable-cups --disable-gtk \
    --disable-dbus --disable-fontconfig --without-tesseract --without-urf --disable-contrib \
    --with-drivers=JPEG,PNG,PS >/dev/null
make -j"$jobs" >/dev/null
mkdir -p "$cache/gs/bin"
cp bin/gs.exe "$cache/gs/bin/gs.exe"
cd ..

echo "$stamp" > "$cache/stamp"
echo "Windows toolchain built in $cache"
