#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, the
# byte-level code under AddressSanitizer/UndefinedBehaviorSanitizer, and the
# serial code under ThreadSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# Xvfb and xprop let a test read the window title a real window manager sees.
qv_install_deps xvfb x11-utils

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
status=0

qv_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=$werror
(cd "$QV_ROOT/build" && ctest --output-on-failure -j 2) || status=1

qv_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_GUI=OFF -DQV_SANITIZE=ON -DQV_WERROR=$werror
(cd "$QV_ROOT/build-asan" && ctest --output-on-failure -j 2 -L asan) || status=1

qv_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQV_GUI=OFF -DQV_TSAN=ON -DQV_WERROR=$werror
(cd "$QV_ROOT/build-tsan" && TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest --output-on-failure -j 2 -L tsan) || status=1

if [ $status -eq 0 ]; then echo "All test runs passed."; else echo "Some tests FAILED."; fi
exit $status
