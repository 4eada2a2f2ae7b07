#!/bin/sh
# Sets up a Debian machine for Pellucor, builds it, then starts it or tests it.
#   ./setup.sh start   install what is missing, build, start the program
#   ./setup.sh test    install what is missing, check the C++ layout, build,
#                      run every test, then build the unit, sandbox and engine tests
#                      with sanitizers and run them
#   ./setup.sh windows install what is missing, build the Windows toolchain if
#                      needed, cross-build the Windows tree, make its installer
#                      and run its tests under Wine
set -eu
mode=${1:-start}
cd "$(dirname "$0")"
case "$mode" in
start | test) ;;
windows) exec sh tools/windows/build.sh ;;
*)
    echo "usage: $0 start|test|windows" >&2
    exit 2
    ;;
esac

packages="cmake g++ make pkg-config qt6-base-dev ghostscript libgs-dev libjpeg62-turbo-dev libseccomp-dev bubblewrap fonts-liberation xvfb xauth xdotool x11-utils libxcb-xfixes0-dev at-spi2-core dbus python3-pyatspi gir1.2-atspi-2.0 dpkg-dev file desktop-file-utils appstream man-db"
# The layout check needs the one clang-format version it is written for.
if [ "$mode" = test ]; then packages="$packages clang-format-19"; fi
# shellcheck disable=SC2086
sh tools/install-packages.sh $packages

# A file laid out otherwise than .clang-format says fails the tests at once,
# before the build.
if [ "$mode" = test ]; then sh tools/format.sh --check; fi

# CI lets no compiler warning through.
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLUCOR_WARNINGS_AS_ERRORS=$werror
cmake --build build --parallel "$(nproc)"

case "$mode" in
start)
    exec build/app/pellucor
    ;;
test)
    # One CTest entry per test class, independent of each other: side by side.
    (cd build && ctest --output-on-failure --parallel "$(nproc)")
    # Once more with AddressSanitizer and UndefinedBehaviorSanitizer and with
    # assertions on (Debug), in a tree of their own: the unit classes, the
    # sandbox's and the engines' (see tests/CMakeLists.txt), building only what
    # they need.
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPELLUCOR_SANITIZE=ON
    cmake --build build-sanitize --parallel "$(nproc)" --target sanitized_tests
    cd build-sanitize
    exec ctest --output-on-failure --parallel "$(nproc)" --label-regex '^sanitize$'
    ;;
esac
