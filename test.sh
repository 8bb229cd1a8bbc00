#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, the
# byte-level code under AddressSanitizer/UndefinedBehaviorSanitizer, and the
# serial code under ThreadSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# Xvfb and xprop let a test read the window title a real window manager sees;
# desktop-file-validate checks the installed desktop entry; dpkg-dev and file
# let CPack take the package's dependencies from the linked libraries.
qv_install_deps xvfb x11-utils desktop-file-utils dpkg-dev file

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
status=0

qv_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=$werror
(cd "$QV_ROOT/build" && ctest --output-on-failure -j 2) || status=1
# The Debian package takes a few seconds: built here, its dependencies checked.
(cd "$QV_ROOT/build" && rm -f quorvantel_*.deb && cpack -G DEB > /dev/null &&
    dpkg-deb -f quorvantel_*.deb Depends | grep -q 'libqt6widgets6' &&
    echo "Debian package: $(ls quorvantel_*.deb)") || { echo "Debian package FAILED"; status=1; }

qv_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_GUI=OFF -DQV_SANITIZE=ON -DQV_WERROR=$werror
(cd "$QV_ROOT/build-asan" && ctest --output-on-failure -j 2 -L asan) || status=1

qv_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQV_GUI=OFF -DQV_TSAN=ON -DQV_WERROR=$werror
(cd "$QV_ROOT/build-tsan" && TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest --output-on-failure -j 2 -L tsan) || status=1

if [ $status -eq 0 ]; then echo "All test runs passed."; else echo "Some tests FAILED."; fi
exit $status
